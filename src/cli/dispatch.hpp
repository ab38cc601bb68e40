#pragma once

namespace bm {

// Runs the mode named on the command line; every mode ends the process itself.
[[noreturn]] void dispatch();

}  // namespace bm
