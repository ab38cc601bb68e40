#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/fd.hpp"

namespace bm::test {

// How a stand-in's thread learns that it must end: a pipe that it polls beside its work, readable
// once ask() has been called.
class StopSignal {
 public:
  StopSignal() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    read_.reset(ends[0]);
    write_.reset(ends[1]);
  }

  // A full pipe is as good as a written byte: the thread sees it readable either way.
  void ask() const { [[maybe_unused]] const ssize_t written = ::write(write_.get(), "x", 1); }
  int fd() const { return read_.get(); }

 private:
  Fd read_;
  Fd write_;
};

}  // namespace bm::test
