#pragma once

#include <string>
#include <string_view>

namespace bm::test {

// The SHA-256 of bytes in lower-case hex, as the health report writes it.
std::string sha256Hex(std::string_view bytes);

}  // namespace bm::test
