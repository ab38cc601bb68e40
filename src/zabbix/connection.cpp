#include "zabbix/connection.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "base/failure.hpp"

namespace bm {
namespace {

// How long an address has alone before the next one starts beside it (RFC 8305's connection
// attempt delay).
constexpr std::chrono::milliseconds kAttemptDelay{250};

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
}

// Polls through EINTR; false when the deadline passes first.
bool pollUntil(pollfd* fds, std::size_t count, Clock::time_point deadline) {
  for (;;) {
    const int ready = ::poll(fds, count, millisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

bool pollUntil(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  return pollUntil(&p, 1, deadline);
}

// Within a run, the address of each peer that last connected; it is tried first next time. Peers
// come from the command line and from redirects, which a server may invent without end: past
// kRemembered peers, the oldest half is forgotten.
constexpr std::size_t kRemembered = 1024;

std::map<std::string, std::string>& lastConnected() {
  static std::map<std::string, std::string> addresses;
  return addresses;
}

void remember(const std::string& peer, const SocketAddress& address) {
  auto& addresses = lastConnected();
  static std::deque<std::string> arrival;
  auto [it, added] = addresses.insert_or_assign(peer, address.identity());
  if (!added) return;
  arrival.push_back(peer);
  if (arrival.size() <= kRemembered) return;
  for (std::size_t i = 0; i < kRemembered / 2; ++i) {
    addresses.erase(arrival.front());
    arrival.pop_front();
  }
}

// The order to try: the address that connected last time first, then the resolver's order with
// the families interleaved, so that a whole family that does not answer costs one delay, not
// one per address (RFC 8305, section 4).
std::vector<const SocketAddress*> attemptOrder(const std::vector<SocketAddress>& addresses,
                                               const std::string& peer) {
  if (addresses.empty()) return {};
  std::vector<const SocketAddress*> first, other;
  for (const SocketAddress& a : addresses) {
    (a.family() == addresses.front().family() ? first : other).push_back(&a);
  }
  std::vector<const SocketAddress*> order;
  order.reserve(first.size() + other.size());
  for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
    if (i < first.size()) order.push_back(first[i]);
    if (i < other.size()) order.push_back(other[i]);
  }
  const auto known = lastConnected().find(peer);
  if (known != lastConnected().end()) {
    const auto it = std::find_if(order.begin(), order.end(), [&](const SocketAddress* a) {
      return a->identity() == known->second;
    });
    if (it != order.end()) std::rotate(order.begin(), it, it + 1);
  }
  return order;
}

// The connection attempts to one peer's addresses, raced: each starts kAttemptDelay after the
// one before (or at once when the one before has failed), the earlier ones stay in flight, the
// first to connect wins and the others are closed.
class AddressRace {
 public:
  AddressRace(std::vector<const SocketAddress*> order, Clock::time_point deadline)
      : order_(std::move(order)), deadline_(deadline) {}

  // The connected socket and its address; an empty socket when every address failed.
  std::pair<Fd, const SocketAddress*> run();
  const std::string& error() const { return error_; }

 private:
  // Starts the next address; a socket that connected at once is the winner.
  Fd startNext();
  // Waits for one in-flight attempt to finish; its socket if it connected.
  Fd awaitOne(Clock::time_point until, const SocketAddress*& winner);

  struct Attempt {
    Fd socket;
    const SocketAddress* address;
  };
  std::vector<const SocketAddress*> order_;
  std::size_t next_ = 0;
  std::vector<Attempt> inFlight_;
  Clock::time_point deadline_;
  Clock::time_point nextStart_{};
  std::string error_ = "nenhum endereço";
};

std::pair<Fd, const SocketAddress*> AddressRace::run() {
  for (;;) {
    const bool more = next_ < order_.size();
    if (!more && inFlight_.empty()) return {Fd(), nullptr};  // every address refused
    if (next_ > 0 && Clock::now() >= deadline_) {
      error_ = "tempo esgotado";
      return {Fd(), nullptr};
    }
    if (more && (inFlight_.empty() || Clock::now() >= nextStart_)) {
      const SocketAddress* address = order_[next_];
      Fd socket = startNext();
      if (socket.get() >= 0) return {std::move(socket), address};
      continue;
    }
    const SocketAddress* winner = nullptr;
    Fd socket = awaitOne(more ? std::min(nextStart_, deadline_) : deadline_, winner);
    if (socket.get() >= 0) return {std::move(socket), winner};
  }
}

Fd AddressRace::startNext() {
  const SocketAddress& address = *order_[next_++];
  nextStart_ = Clock::now() + kAttemptDelay;
  Fd socket(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0) {
    error_ = std::strerror(errno);
    nextStart_ = Clock::now();
    return Fd();
  }
  if (::connect(socket.get(), address.get(), address.length) == 0) return socket;
  if (errno == EINPROGRESS) {
    inFlight_.push_back({std::move(socket), &address});
  } else {
    error_ = std::strerror(errno);
    nextStart_ = Clock::now();
  }
  return Fd();
}

Fd AddressRace::awaitOne(Clock::time_point until, const SocketAddress*& winner) {
  std::vector<pollfd> fds;
  fds.reserve(inFlight_.size());
  for (const Attempt& attempt : inFlight_) fds.push_back({attempt.socket.get(), POLLOUT, 0});
  if (!pollUntil(fds.data(), fds.size(), until)) return Fd();
  for (std::size_t i = fds.size(); i-- > 0;) {
    if (fds[i].revents == 0) continue;
    int status = 0;
    socklen_t length = sizeof status;
    if (::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0) status = errno;
    if (status == 0) {
      winner = inFlight_[i].address;
      return std::move(inFlight_[i].socket);
    }
    error_ = std::strerror(status);
    inFlight_.erase(inFlight_.begin() + static_cast<std::ptrdiff_t>(i));
    nextStart_ = Clock::now();  // a failed address makes way for the next one at once
  }
  return Fd();
}

}  // namespace

Connection Connection::open(const std::vector<SocketAddress>& addresses, const std::string& peer,
                            Clock::time_point deadline) {
  AddressRace race(attemptOrder(addresses, peer), deadline);
  std::pair<Fd, const SocketAddress*> won = race.run();
  if (won.second == nullptr) {
    throw Failure(FailureKind::Delivery, "connect " + peer + ": " + race.error());
  }
  remember(peer, *won.second);
  return Connection(std::move(won.first), peer, *won.second);
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

}  // namespace bm
