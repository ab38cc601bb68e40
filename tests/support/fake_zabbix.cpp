#include "support/fake_zabbix.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bm::test {

Fd listenOn(const std::string& address, int port, int backlog) {
  const bool v6 = address.find(':') != std::string::npos;
  Fd listener(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = listener.get();
  const int on = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  }
  int rc = -1;
  if (v6) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
    rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc != 0 || ::listen(fd, backlog) != 0) {
    throw std::runtime_error("cannot listen on " + address + ": " + std::strerror(errno));
  }
  return listener;
}

namespace {

// Waits for fd or the stop pipe; false once stopped.
bool waitReadable(int fd, int stop, int milliseconds = -1) {
  pollfd p[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
  while (::poll(p, 2, milliseconds) < 0) {
    if (errno != EINTR) return false;
  }
  return p[1].revents == 0 && p[0].revents != 0;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

FakeZabbix::FakeZabbix(const std::string& address, Script script, int port)
    : script_(std::move(script)), listener_(listenOn(address, port)) {
  thread_ = std::thread([this] { serve(); });
}

FakeZabbix::~FakeZabbix() {
  stop_.ask();
  thread_.join();
}

std::vector<std::string> FakeZabbix::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FakeZabbix::waitForRequests(std::size_t count, std::chrono::seconds limit) const {
  std::unique_lock lock(mutex_);
  return served_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

std::string FakeZabbix::frame(std::string_view body, unsigned char flags) {
  std::string out = "ZBXD";
  out += static_cast<char>(flags);
  const auto length = static_cast<std::uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
  out.append(4, '\0');
  return out.append(body);
}

FakeZabbix::Answer FakeZabbix::success() {
  return {frame(
      R"({"response":"success","info":"processed: 1; failed: 0; total: 1; seconds spent: 0.000055"})")};
}

FakeZabbix::Answer FakeZabbix::failed() {
  return {frame(R"({"response":"failed","info":"cannot parse as a valid JSON object"})")};
}

// The header, then as many bytes as it announces (or what came before the client stopped).
std::string FakeZabbix::readRequest(int fd) {
  std::string bytes;
  std::size_t wanted = 13;
  while (bytes.size() < wanted && waitReadable(fd, stop_.fd(), 5000)) {
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, wanted - bytes.size()), 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (wanted == 13 && bytes.size() == 13) {
      std::uint32_t length = 0;
      for (int i = 8; i >= 5; --i) length = (length << 8) | static_cast<unsigned char>(bytes[i]);
      wanted += length;
    }
  }
  return bytes;
}

std::string FakeZabbix::readWhatArrives(int fd) {
  char buffer[65536];
  if (!waitReadable(fd, stop_.fd(), 5000)) return "";
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
}

// Waits for the client to close without reading what it sends.
void FakeZabbix::holdUnread(int fd) {
  for (;;) {
    pollfd p[2] = {{fd, POLLRDHUP, 0}, {stop_.fd(), POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
    if (p[1].revents != 0 || (p[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return;
  }
}

void FakeZabbix::holdUntilClosed(int fd) {
  char buffer[4096];
  while (waitReadable(fd, stop_.fd()) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

void FakeZabbix::serve() {
  for (int connection = 0; waitReadable(listener_.get(), stop_.fd()); ++connection) {
    Fd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int fd = accepted.get();
    if (fd < 0) continue;
    Answer reply = script_(connection, "");
    std::string request;
    if (reply.readRequest) {
      request = reply.readAny ? readWhatArrives(fd) : readRequest(fd);
      reply = script_(connection, request);
    }
    {
      // Recorded before the client has its answer, so that it is there once the client returns.
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      served_.notify_all();
    }
    answer(fd, reply);
  }
}

void FakeZabbix::answer(int fd, const Answer& reply) {
  if (reply.trickle.count() == 0) {
    writeAll(fd, reply.bytes);
  } else {
    for (char c : reply.bytes) {
      // Stops early once the client has gone or the test ends.
      if (waitReadable(fd, stop_.fd(), static_cast<int>(reply.trickle.count()))) break;
      writeAll(fd, std::string_view(&c, 1));
    }
  }
  if (!reply.readRequest) {
    holdUnread(fd);
  } else if (reply.hold) {
    holdUntilClosed(fd);
  }
  if (reply.reset) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
}

BlackHole::BlackHole(const std::string& address, int port) : listener_(listenOn(address, port, 0)) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  // Connections nobody accepts, until one no longer completes: the queue is full.
  for (int i = 0; i < 8; ++i) {
    const int fd =
        queued_
            .emplace_back(::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))
            .get();
    // Non-blocking: the connection completes, or not, while poll waits.
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&bound), length);
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 200) == 0) return;
  }
  throw std::runtime_error("cannot fill the queue of " + address);
}

}  // namespace bm::test
