#pragma once
// What the benchmarks share: running a command and reading its time and peak memory, medians,
// and directories made once and kept.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/run.hpp"
#include "support/temp_dir.hpp"

namespace bench {

struct Sample {
  double seconds;  // wall time
  long maxRssKiB;
  double cpuSeconds;  // user and system time
};

// Runs a command with standard output on /dev/null; its wall and CPU time and peak resident set.
inline Sample runOnce(const std::vector<std::string>& argv) {
  bm::test::RunOptions options;
  options.program = argv[0];
  options.discardStdout = true;
  const auto start = std::chrono::steady_clock::now();
  const bm::test::RunResult result = bm::test::run(argv, options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result.status != 0) {
    std::string command;
    for (const std::string& word : argv) command += word + ' ';
    throw std::runtime_error(command + "failed");
  }
  return {seconds, result.peakKib, result.cpuSeconds};
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Whether dir is to be made: a marker file says a directory is complete, so each is made once.
inline bool prepare(const std::string& dir) {
  if (::access((dir + ".done").c_str(), F_OK) == 0) return false;
  std::filesystem::remove_all(dir);
  bm::test::makeDirectory(dir);
  std::fprintf(stderr, "making %s\n", dir.c_str());
  return true;
}

// Marks dir complete.
inline void finish(const std::string& dir) { bm::test::makeFile(dir + ".done", 0); }

}  // namespace bench
