#pragma once

#include <string>

#include "base/fd.hpp"

namespace bm::test {

// Standard output redirected to a file for as long as this lives; text() flushes the program's
// console and returns what reached it.
class CapturedStdout {
 public:
  CapturedStdout();
  ~CapturedStdout();
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;
  std::string text() const;

 private:
  Fd saved_;
  Fd file_;
};

}  // namespace bm::test
