#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "base/fd.hpp"

namespace bm {

using Clock = std::chrono::steady_clock;

// A TCP connection with a deadline on every wait. Every failure is a Delivery failure.
class Connection {
 public:
  // Resolves the server anew (names, IPv4 and IPv6 literals) and tries its addresses in order
  // until one accepts, all before the deadline.
  static Connection open(const std::string& server, int port, Clock::time_point deadline);

  void sendAll(std::string_view bytes, Clock::time_point deadline);
  // Waits for bytes and reads what has come, up to size; 0 once the peer has closed. Fails on
  // an error or at the deadline.
  std::size_t receiveSome(char* out, std::size_t size, Clock::time_point deadline);

  const std::string& peer() const { return peer_; }

 private:
  Connection(Fd socket, std::string peer) : socket_(std::move(socket)), peer_(std::move(peer)) {}
  void waitFor(short events, Clock::time_point deadline, const char* what);

  Fd socket_;
  std::string peer_;  // "server:port", as messages show it
};

}  // namespace bm
