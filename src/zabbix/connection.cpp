#include "zabbix/connection.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/failure.hpp"

namespace bm::zabbix {
namespace {

struct AddressListDeleter {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Polls one descriptor through EINTR; false when the deadline passes first.
bool pollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

AddressList resolve(const std::string& server, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(server.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    throw Failure(FailureKind::Delivery,
                  "getaddrinfo " + server + ": " +
                      (rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc)));
  }
  return AddressList(found);
}

// A connected socket, or an empty one with the reason in error.
Fd connectTo(const addrinfo& address, Clock::time_point deadline, std::string& error) {
  Fd socket(::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                     address.ai_protocol));
  if (socket.get() < 0) {
    error = std::strerror(errno);
    return Fd();
  }
  if (::connect(socket.get(), address.ai_addr, address.ai_addrlen) == 0) return socket;
  if (errno != EINPROGRESS) {
    error = std::strerror(errno);
    return Fd();
  }
  if (!pollUntil(socket.get(), POLLOUT, deadline)) {
    error = "tempo esgotado";
    return Fd();
  }
  int status = 0;
  socklen_t length = sizeof status;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &status, &length) != 0) status = errno;
  if (status != 0) {
    error = std::strerror(status);
    return Fd();
  }
  return socket;
}

}  // namespace

Connection Connection::open(const std::string& server, int port, Clock::time_point deadline) {
  const std::string peer = server + ":" + std::to_string(port);
  const AddressList addresses = resolve(server, port);
  std::string error = "nenhum endereço";
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    Fd socket = connectTo(*a, deadline, error);
    if (socket.get() >= 0) return Connection(std::move(socket), peer);
  }
  throw Failure(FailureKind::Delivery, "connect " + peer + ": " + error);
}

void Connection::waitFor(short events, Clock::time_point deadline, const char* what) {
  if (!pollUntil(socket_.get(), events, deadline)) {
    throw Failure(FailureKind::Delivery, std::string(what) + " " + peer_ + ": tempo esgotado");
  }
}

void Connection::sendAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      waitFor(POLLOUT, deadline, "send");
    } else if (errno != EINTR) {
      throw Failure(FailureKind::Delivery, "send " + peer_ + ": " + std::strerror(errno));
    }
  }
}

std::size_t Connection::receiveSome(char* out, std::size_t size, Clock::time_point deadline) {
  for (;;) {
    waitFor(POLLIN, deadline, "recv");
    const ssize_t n = ::recv(socket_.get(), out, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      throw Failure(FailureKind::Delivery, "recv " + peer_ + ": " + std::strerror(errno));
    }
  }
}

}  // namespace bm::zabbix
