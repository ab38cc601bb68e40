#include "base/console.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace bm::console {
namespace {

constexpr std::size_t kBlock = std::size_t{64} * 1024;

// Process-wide because standard output is: one buffer in front of one descriptor, so that
// every line reaches it in the order written. Only main's thread writes, once main has started.
std::string pending;

std::string& buffer() { return pending; }

// Writes everything, through EINTR and short writes; gives up silently on any other error.
void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void write(std::string_view text) {
  std::string& out = buffer();
  if (out.size() + text.size() > kBlock) flush();
  if (text.size() >= kBlock) {
    writeAll(STDOUT_FILENO, text);
    return;
  }
  out.append(text);
}

void line(std::string_view text) {
  write(text);
  write("\n");
}

void flush() {
  writeAll(STDOUT_FILENO, buffer());
  buffer().clear();
}

void error(std::string_view text) {
  flush();
  writeAll(STDERR_FILENO, text);
}

void endProcess(int status) {
  flush();
  throw ExitRequest{status};
}

}  // namespace bm::console
