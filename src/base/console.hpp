#pragma once

#include <string_view>

namespace bm::console {

// Standard output, buffered in large blocks. A write that fails (say, a pipe nobody reads any
// more) drops the text: console output never stops the work.
void write(std::string_view text);
void line(std::string_view text);
void flush();

// Writes text on standard error at once, after flushing standard output.
void error(std::string_view text);

// Flushes standard output and ends the process with this status.
[[noreturn]] void endProcess(int status);

}  // namespace bm::console
