// The completeness check on arbitrary bytes, as zip, gzip or text: it never reads out of bounds
// or grows without bound, and its verdict does not depend on how the bytes are split into reads.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/completeness.hpp"
#include "fuzz_check.hpp"

namespace {

bm::Completeness verdictOf(bm::CompletenessCheck& check, const std::uint8_t* data, std::size_t size,
                           std::size_t piece) {
  check.start();
  for (std::size_t at = 0; at < size; at += piece)
    check.feed(data + at, std::min(piece, size - at));
  return check.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bm::LastLinePattern pattern("^(end|return)$", "BACKUP_MONITOR_LAST_LINE");
  static bm::CompletenessCheck check(&pattern);
  if (size == 0) return 0;
  // The first byte picks the size of the reads; the rest is the file.
  const std::size_t piece = 1 + data[0] % 97;
  const bm::Completeness whole = verdictOf(check, data + 1, size - 1, size);
  const bm::Completeness pieces = verdictOf(check, data + 1, size - 1, piece);
  FUZZ_CHECK(whole.incomplete == pieces.incomplete);
  FUZZ_CHECK(whole.unchecked == pieces.unchecked);
  return 0;
}
