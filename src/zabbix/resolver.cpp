// Name lookups with a deadline. The C library's getaddrinfo waits as long as resolv.conf allows
// (timeout × attempts × name servers, minutes with some settings) and cannot be stopped, so names
// are looked up with c-ares, which reads the same resolv.conf, /etc/hosts and nsswitch.conf hosts
// order and whose sockets are polled here until the answer or the deadline. What it does not
// do is load NSS modules (mDNS, LDAP hosts): a server named only there is not found.
#include "zabbix/resolver.hpp"

#include <ares.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "base/failure.hpp"

namespace bm {
namespace {

[[noreturn]] void lookupFailed(const std::string& host, const std::string& why) {
  throw Failure(FailureKind::Delivery, "getaddrinfo " + host + ": " + why);
}

void setPort(SocketAddress& address, int port) {
  const auto network = htons(static_cast<std::uint16_t>(port));
  if (address.family() == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = network;
  } else if (address.family() == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = network;
  }
}

void append(std::vector<SocketAddress>& out, const sockaddr* address, std::size_t length) {
  if (length > sizeof(sockaddr_storage)) return;
  SocketAddress& added = out.emplace_back();
  std::memcpy(&added.storage, address, length);
  added.length = static_cast<socklen_t>(length);
}

// An address literal in any form the C library reads; nothing when the text is a name. No
// lookup happens here, so it cannot wait.
std::optional<std::vector<SocketAddress>> literalAddresses(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc == EAI_NONAME) return std::nullopt;
  if (rc != 0) lookupFailed(host, rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
  std::vector<SocketAddress> addresses;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    append(addresses, a->ai_addr, a->ai_addrlen);
  }
  return addresses;
}

// What one lookup has found; written by c-ares's callback, which may run inside any c-ares call,
// the channel's destruction included (with ARES_EDESTRUCTION).
struct Lookup {
  bool done = false;
  int status = ARES_SUCCESS;
  std::vector<SocketAddress> addresses;
};

void onResult(void* data, int status, int, ares_addrinfo* result) noexcept {
  auto* lookup = static_cast<Lookup*>(data);
  lookup->done = true;
  lookup->status = status;
  if (result == nullptr) return;
  try {
    for (const ares_addrinfo_node* node = result->nodes; node != nullptr; node = node->ai_next) {
      append(lookup->addresses, node->ai_addr, node->ai_addrlen);
    }
  } catch (...) {
    lookup->status = ARES_ENOMEM;
  }
  ares_freeaddrinfo(result);
}

int closeOnExec(ares_socket_t socket, int, void*) noexcept {
  return ::fcntl(socket, F_SETFD, FD_CLOEXEC) == 0 ? ARES_SUCCESS : -1;
}

// One c-ares channel, which reads the resolver's configuration when made, and the sockets it
// wants polled.
class Channel {
 public:
  Channel() {
    // c-ares wants its library set up once per process, before any channel, and never again:
    // the one process-wide value of the lookups, which keeps nothing of a run.
    static const int initialised = ares_library_init(ARES_LIB_INIT_ALL);
    ares_options options{};
    options.sock_state_cb = &Channel::socketState;
    options.sock_state_cb_data = this;
    const int rc = initialised != ARES_SUCCESS
                       ? initialised
                       : ares_init_options(&channel_, &options, ARES_OPT_SOCK_STATE_CB);
    if (rc != ARES_SUCCESS) {
      throw Failure(FailureKind::System, std::string("ares_init_options: ") + ares_strerror(rc));
    }
    ares_set_socket_callback(channel_, &closeOnExec, nullptr);
  }
  ~Channel() { ares_destroy(channel_); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  ares_channel get() const { return channel_; }
  // Waits for the sockets or c-ares's own next time-out, whichever comes first, not past the
  // deadline, and lets c-ares act on what happened.
  void step(const Deadline& deadline);

 private:
  static void socketState(void* data, ares_socket_t socket, int readable, int writable) noexcept;

  ares_channel channel_ = nullptr;
  std::vector<pollfd> sockets_;
};

void Channel::socketState(void* data, ares_socket_t socket, int readable, int writable) noexcept {
  auto& sockets = static_cast<Channel*>(data)->sockets_;
  const auto it =
      std::find_if(sockets.begin(), sockets.end(), [&](const pollfd& p) { return p.fd == socket; });
  const auto events =
      static_cast<short>((readable != 0 ? POLLIN : 0) | (writable != 0 ? POLLOUT : 0));
  if (events == 0) {
    if (it != sockets.end()) sockets.erase(it);
  } else if (it != sockets.end()) {
    it->events = events;
  } else {
    try {
      sockets.push_back({socket, events, 0});
    } catch (...) {
      // Not polled: c-ares's own time-out still ends the query.
    }
  }
}

void Channel::step(const Deadline& deadline) {
  timeval most = deadline.timeLeft();
  timeval wait{};
  const timeval* until = ares_timeout(channel_, &most, &wait);
  const long long milliseconds = until->tv_sec * 1000LL + (until->tv_usec + 999) / 1000;
  std::vector<pollfd> fds = sockets_;  // c-ares may change its sockets while it acts
  const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(milliseconds));
  if (ready <= 0) {
    ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // its time-outs, if due
    return;
  }
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    const bool readable = (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    const bool writable = (p.revents & POLLOUT) != 0;
    ares_process_fd(channel_, readable ? p.fd : ARES_SOCKET_BAD, writable ? p.fd : ARES_SOCKET_BAD);
  }
}

std::vector<SocketAddress> lookUp(const std::string& host, const Deadline& deadline) {
  Lookup lookup;    // outlives the channel, whose destruction ends the query through it
  Channel channel;  // a fresh one: resolv.conf is read as it is now
  ares_addrinfo_hints hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ares_getaddrinfo(channel.get(), host.c_str(), nullptr, &hints, &onResult, &lookup);
  while (!lookup.done) {
    if (deadline.passed()) lookupFailed(host, "tempo esgotado");
    channel.step(deadline);
  }
  if (lookup.status != ARES_SUCCESS) lookupFailed(host, ares_strerror(lookup.status));
  if (lookup.addresses.empty()) lookupFailed(host, "nenhum endereço");
  return std::move(lookup.addresses);
}

}  // namespace

std::string SocketAddress::identity() const {
  std::string id;
  if (family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
    id.assign(reinterpret_cast<const char*>(&v4->sin_addr), 4);
    id.append(reinterpret_cast<const char*>(&v4->sin_port), 2);
  } else if (family() == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    const auto* bytes = reinterpret_cast<const char*>(&v6->sin6_addr);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      id.assign(bytes + 12, 4);
    } else {
      id.assign(bytes, 16);
      id.append(reinterpret_cast<const char*>(&v6->sin6_scope_id), 4);
    }
    id.append(reinterpret_cast<const char*>(&v6->sin6_port), 2);
  }
  return id;
}

std::vector<SocketAddress> resolveAddresses(const std::string& host, int port,
                                            const Deadline& deadline) {
  // The resolver reads a C string: a NUL would cut the name short and reach another host.
  if (host.find('\0') != std::string::npos) lookupFailed(host, "o nome contém um byte nulo");
  if (auto literal = literalAddresses(host, port)) return std::move(*literal);
  std::vector<SocketAddress> addresses = lookUp(host, deadline);
  for (SocketAddress& address : addresses) setPort(address, port);
  return addresses;
}

}  // namespace bm
