#include "support/log_socket.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>

namespace bm::test {

LogSocket::LogSocket(const std::string& path, std::chrono::milliseconds readAfter)
    : path_(path.empty() ? dir_ / "log" : path),
      ownPath_(!path.empty()),
      socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
  if (socket_.get() < 0 ||
      ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error(std::string("log socket: ") + std::strerror(errno));
  }
  reader_ = std::thread([this, readAfter] { read(readAfter); });
}

LogSocket::~LogSocket() {
  stop();
  if (ownPath_) ::unlink(path_.c_str());
}

void LogSocket::stop() {
  if (!reader_.joinable()) return;
  stop_.ask();
  reader_.join();
}

std::vector<std::string> LogSocket::lines() {
  stop();
  const std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

// Reads until told to stop, then what is still queued.
void LogSocket::read(std::chrono::milliseconds readAfter) {
  if (readAfter.count() > 0) {
    pollfd p{stop_.fd(), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(readAfter.count()));
  }
  static const std::regex head(
      R"(<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d backup-monitor\[\d+\]: (.*))");
  for (bool stopping = false;;) {
    pollfd p[2] = {{socket_.get(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    if (::poll(p, stopping ? 1 : 2, stopping ? 0 : -1) <= 0 && stopping) return;
    if ((p[1].revents & POLLIN) != 0) stopping = true;
    if ((p[0].revents & POLLIN) == 0) continue;
    char buffer[4096];
    const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
    if (n <= 0) continue;
    std::smatch parts;
    const std::string datagram(buffer, static_cast<std::size_t>(n));
    // Appended piece by piece: GCC 12 misreads a chain of + on a temporary as overlapping copies.
    std::string line;
    if (std::regex_match(datagram, parts, head)) {
      line += '<';
      line += parts[1].str();
      line += '>';
      line += parts[2].str();
    } else {
      line = "unreadable: ";
      line += datagram;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
}

}  // namespace bm::test
