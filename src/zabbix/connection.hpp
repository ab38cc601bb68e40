#pragma once

#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/deadline.hpp"
#include "base/fd.hpp"
#include "zabbix/resolver.hpp"

namespace bm {

// Within a run, the address of each peer that last connected, to be tried first next time.
// Peers come from the command line and from redirects, which a server may invent without end:
// past kRemembered peers, the oldest half is forgotten.
class ConnectedAddresses {
 public:
  static constexpr std::size_t kRemembered = 1024;

  // The identity of the address that last connected to peer; empty when none has.
  std::string lastOf(const std::string& peer) const;
  void remember(const std::string& peer, const SocketAddress& address);

 private:
  std::map<std::string, std::string> addresses_;
  std::deque<std::string> arrival_;
};

// A TCP connection with a deadline on every wait. Every failure is a Delivery failure.
class Connection {
 public:
  // Tries the addresses of peer ("server:port", as messages show it) until one accepts, all
  // before the deadline; the one that connected last time in this run goes first, and the one
  // that connects now is remembered.
  static Connection open(const std::vector<SocketAddress>& addresses, const std::string& peer,
                         const Deadline& deadline, ConnectedAddresses& connected);

  void sendAll(std::string_view bytes, const Deadline& deadline);
  // Waits for bytes and reads what has come, up to size; 0 once the peer has closed. Fails on
  // an error or at the deadline.
  std::size_t receiveSome(char* out, std::size_t size, const Deadline& deadline);

  const std::string& peer() const { return peer_; }
  // The address connected to.
  const SocketAddress& address() const { return address_; }

 private:
  Connection(Fd socket, std::string peer, const SocketAddress& address)
      : socket_(std::move(socket)), peer_(std::move(peer)), address_(address) {}
  void waitFor(short events, const Deadline& deadline, const char* what);

  Fd socket_;
  std::string peer_;
  SocketAddress address_;
};

}  // namespace bm
