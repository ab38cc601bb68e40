#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/utf8.hpp"

// A broken invariant is a finding: say which, and stop like a crash does.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

namespace fuzz {

// The text every output must carry for these bytes: each undecodable byte as U+FFFD.
inline std::string wellFormed(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) bm::utf8::append(out, bm::utf8::next(bytes, i));
  return out;
}

// Decoding and encoding again changes only text that is not well-formed UTF-8.
inline bool isWellFormedUtf8(std::string_view text) { return wellFormed(text) == text; }

}  // namespace fuzz
