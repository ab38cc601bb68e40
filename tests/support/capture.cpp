#include "support/capture.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include "base/console.hpp"

namespace bm::test {

CapturedStdout::CapturedStdout()
    : saved_(::dup(STDOUT_FILENO)), file_(::memfd_create("stdout", MFD_CLOEXEC)) {
  console::flush();
  ::dup2(file_, STDOUT_FILENO);
}

CapturedStdout::~CapturedStdout() {
  console::flush();
  ::dup2(saved_, STDOUT_FILENO);
  ::close(saved_);
  ::close(file_);
}

std::string CapturedStdout::text() const {
  console::flush();
  std::string out;
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(file_, buffer, sizeof buffer, at);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

}  // namespace bm::test
