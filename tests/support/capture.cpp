#include "support/capture.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/console.hpp"

namespace bm::test {

CapturedStdout::CapturedStdout()
    : saved_(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)),
      file_(::memfd_create("stdout", MFD_CLOEXEC)) {
  console::flush();
  if (saved_.get() < 0 || file_.get() < 0 || ::dup2(file_.get(), STDOUT_FILENO) < 0) {
    throw std::runtime_error(std::string("capturing standard output: ") + std::strerror(errno));
  }
}

CapturedStdout::~CapturedStdout() {
  console::flush();
  ::dup2(saved_.get(), STDOUT_FILENO);
}

std::string CapturedStdout::text() const {
  console::flush();
  std::string out;
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(file_.get(), buffer, sizeof buffer, at);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

}  // namespace bm::test
