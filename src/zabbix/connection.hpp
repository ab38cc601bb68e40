#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "base/fd.hpp"
#include "zabbix/resolver.hpp"

namespace bm {

// A TCP connection with a deadline on every wait. Every failure is a Delivery failure.
class Connection {
 public:
  // Tries the addresses of peer ("server:port", as messages show it) until one accepts, all
  // before the deadline; the one that connected last time in this run goes first.
  static Connection open(const std::vector<SocketAddress>& addresses, const std::string& peer,
                         Clock::time_point deadline);

  void sendAll(std::string_view bytes, Clock::time_point deadline);
  // Waits for bytes and reads what has come, up to size; 0 once the peer has closed. Fails on
  // an error or at the deadline.
  std::size_t receiveSome(char* out, std::size_t size, Clock::time_point deadline);

  const std::string& peer() const { return peer_; }
  // The address connected to.
  const SocketAddress& address() const { return address_; }

 private:
  Connection(Fd socket, std::string peer, const SocketAddress& address)
      : socket_(std::move(socket)), peer_(std::move(peer)), address_(address) {}
  void waitFor(short events, Clock::time_point deadline, const char* what);

  Fd socket_;
  std::string peer_;
  SocketAddress address_;
};

}  // namespace bm
