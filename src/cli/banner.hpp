#pragma once

#include <string>
#include <string_view>

namespace bm {

// Position 0 with every "./" replaced by one blank (left to right, never rescanned), two blanks
// and the version.
std::string versionLine(std::string_view programPath);

// Mode version: the rights notice and the version line. Ends the process with status 0.
[[noreturn]] void get_version();

}  // namespace bm
