#pragma once

#include "base/system_log.hpp"

namespace bm {

// Runs the mode named on the command line, which says in log what the console has no room for;
// every mode ends the process itself.
[[noreturn]] void dispatch(SystemLog& log);

}  // namespace bm
