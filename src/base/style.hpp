#pragma once

// The version the program shows, and its palette of terminal colours (written as they are,
// whatever the output is connected to).
namespace bm {

inline constexpr const char* VERSION = "1.0.1";

inline constexpr const char* RED = "\x1b[1;31m";
inline constexpr const char* BLUE = "\x1b[1;34m";
inline constexpr const char* CYAN = "\x1b[1;36m";
inline constexpr const char* GREEN = "\x1b[0;32m";
inline constexpr const char* RESET = "\x1b[0;0m";
inline constexpr const char* BOLD = "\x1b[;1m";
inline constexpr const char* REVERSE = "\x1b[;7m";
inline constexpr const char* YELLOW = "\x1b[0;93m";

}  // namespace bm
