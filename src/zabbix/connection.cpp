#include "zabbix/connection.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "base/failure.hpp"

namespace bm {
namespace {

// How long an address has alone before the next one starts beside it (RFC 8305's connection
// attempt delay).
constexpr std::chrono::milliseconds kAttemptDelay{250};

// Polls through EINTR; false when the deadline passes first.
bool pollUntil(pollfd* fds, std::size_t count, const Deadline& deadline) {
  for (;;) {
    const int ready = ::poll(fds, count, deadline.pollMilliseconds());
    if (ready > 0) return true;
    if (ready == 0 && deadline.passed()) return false;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool pollUntil(int fd, short events, const Deadline& deadline) {
  pollfd p{fd, events, 0};
  return pollUntil(&p, 1, deadline);
}

// The order to try: the address that connected last time first, then the resolver's order with
// the families interleaved, so that a whole family that does not answer costs one delay, not
// one per address (RFC 8305, section 4).
std::vector<const SocketAddress*> attemptOrder(const std::vector<SocketAddress>& addresses,
                                               const std::string& last) {
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
  if (!last.empty()) {
    const auto it = std::find_if(order.begin(), order.end(),
                                 [&](const SocketAddress* a) { return a->identity() == last; });
    if (it != order.end()) std::rotate(order.begin(), it, it + 1);
  }
  return order;
}

// The connection attempts to one peer's addresses, raced: each starts kAttemptDelay after the
// one before (or at once when the one before has failed), the earlier ones stay in flight, the
// first to connect wins and the others are closed.
class AddressRace {
 public:
  AddressRace(std::vector<const SocketAddress*> order, const Deadline& deadline)
      : order_(std::move(order)), deadline_(deadline), nextStart_(deadline) {}

  // The connected socket and its address; an empty socket when every address failed.
  std::pair<Fd, const SocketAddress*> run();
  const std::string& error() const { return error_; }

 private:
  // Starts the next address; a socket that connected at once is the winner.
  Fd startNext();
  // Waits for one in-flight attempt to finish; its socket if it connected.
  Fd awaitOne(const Deadline& until, const SocketAddress*& winner);

  struct Attempt {
    Fd socket;
    const SocketAddress* address;
  };
  std::vector<const SocketAddress*> order_;
  std::size_t next_ = 0;
  std::vector<Attempt> inFlight_;
  Deadline deadline_;
  Deadline nextStart_;
  std::string error_ = "nenhum endereço";
};

std::pair<Fd, const SocketAddress*> AddressRace::run() {
  for (;;) {
    const bool more = next_ < order_.size();
    if (!more && inFlight_.empty()) return {Fd(), nullptr};  // every address refused
    // A deadline already passed leaves no time to connect, not even to the first address.
    if (deadline_.passed()) {
      error_ = "tempo esgotado";
      return {Fd(), nullptr};
    }
    if (more && (inFlight_.empty() || nextStart_.passed())) {
      const SocketAddress* address = order_[next_];
      Fd socket = startNext();
      if (socket.get() >= 0) return {std::move(socket), address};
      continue;
    }
    const SocketAddress* winner = nullptr;
    Fd socket = awaitOne(more ? deadline_.earlierOf(nextStart_) : deadline_, winner);
    if (socket.get() >= 0) return {std::move(socket), winner};
  }
}

Fd AddressRace::startNext() {
  const SocketAddress& address = *order_[next_++];
  nextStart_ = deadline_.within(kAttemptDelay);
  Fd socket(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0) {
    error_ = std::strerror(errno);
    nextStart_ = deadline_.within(Clock::duration::zero());
    return Fd();
  }
  if (::connect(socket.get(), address.get(), address.length) == 0) return socket;
  if (errno == EINPROGRESS) {
    inFlight_.push_back({std::move(socket), &address});
  } else {
    error_ = std::strerror(errno);
    nextStart_ = deadline_.within(Clock::duration::zero());
  }
  return Fd();
}

Fd AddressRace::awaitOne(const Deadline& until, const SocketAddress*& winner) {
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
    // A failed address makes way for the next one at once.
    nextStart_ = deadline_.within(Clock::duration::zero());
  }
  return Fd();
}

}  // namespace

std::string ConnectedAddresses::lastOf(const std::string& peer) const {
  const auto known = addresses_.find(peer);
  return known == addresses_.end() ? std::string() : known->second;
}

void ConnectedAddresses::remember(const std::string& peer, const SocketAddress& address) {
  auto [it, added] = addresses_.insert_or_assign(peer, address.identity());
  if (!added) return;
  arrival_.push_back(peer);
  if (arrival_.size() <= kRemembered) return;
  for (std::size_t i = 0; i < kRemembered / 2; ++i) {
    addresses_.erase(arrival_.front());
    arrival_.pop_front();
  }
}

Connection Connection::open(const std::vector<SocketAddress>& addresses, const std::string& peer,
                            const Deadline& deadline, ConnectedAddresses& connected) {
  AddressRace race(attemptOrder(addresses, connected.lastOf(peer)), deadline);
  std::pair<Fd, const SocketAddress*> won = race.run();
  if (won.second == nullptr) {
    throw Failure(FailureKind::Delivery, "connect " + peer + ": " + race.error());
  }
  connected.remember(peer, *won.second);
  // A request goes as soon as it is written: without this, a request written after a TLS
  // handshake's last flight waits for the peer's delayed acknowledgement of it (some 40 ms).
  const int noDelay = 1;
  ::setsockopt(won.first.get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  return Connection(std::move(won.first), peer, *won.second);
}

void Connection::waitFor(short events, const Deadline& deadline, const char* what) {
  if (!pollUntil(socket_.get(), events, deadline)) {
    throw Failure(FailureKind::Delivery, std::string(what) + " " + peer_ + ": tempo esgotado");
  }
}

void Connection::sendAll(std::string_view bytes, const Deadline& deadline) {
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

std::size_t Connection::receiveSome(char* out, std::size_t size, const Deadline& deadline) {
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
