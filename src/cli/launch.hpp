#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm {

// The child's argument list: position 0 unchanged, the text after the last "launch_", then
// positions 2 to the end unchanged.
std::vector<std::string> childArguments(const std::vector<std::string>& arguments,
                                        std::string_view mode);

// Mode launch_*: starts the program again in the child mode, its console on a pipe nobody reads,
// and ends with status 0 without waiting. Fails when the child cannot be started.
[[noreturn]] void launch(const std::string& mode);

}  // namespace bm
