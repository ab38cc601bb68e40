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

// The end of the run, on its way to main: the one place the process ends, turning the request
// into its exit status. Not an std::exception, so that only main catches it.
struct ExitRequest {
  int status;
};

// Flushes standard output and ends the run with this status, by an ExitRequest.
[[noreturn]] void endProcess(int status);

}  // namespace bm::console
