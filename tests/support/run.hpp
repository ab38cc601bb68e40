#pragma once

#include <map>
#include <string>
#include <vector>

namespace bm::test {

struct RunResult {
  std::string out;
  std::string err;
  int status;             // exit status, or 128 + signal
  long peakKib = 0;       // the program's peak resident memory
  double cpuSeconds = 0;  // its user and system time
};

struct RunOptions {
  std::string program;                     // the file to execute; argv[0] is separate
  std::string directory;                   // working directory, if not empty
  std::map<std::string, std::string> env;  // added to PATH and the pinned TZ
  bool searchPath = false;                 // find argv[0] through PATH, as a shell would
  bool closedStdout = false;               // standard output is a pipe nobody reads
  bool discardStdout = false;              // standard output is /dev/null
  int inheritedDescriptor = -1;            // if set, this number is open on /dev/null too
};

// Runs a program with exactly this argument list, standard input from /dev/null, and reads its
// standard output and error to their end.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options);

// The failure report's line number is the one detail a test should not pin.
std::string withoutLineNumbers(const std::string& report);

}  // namespace bm::test
