#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/fd.hpp"
#include "support/stop_signal.hpp"

namespace bm::test {

// A listening TCP socket on this address (IPv4 or IPv6 literal) and port, SO_REUSEADDR set.
Fd listenOn(const std::string& address, int port, int backlog = 16);

// A stand-in for a Zabbix server's trapper on its own loopback address, 127.0.0.N:10052, served
// by a thread of its own. Each test takes its own N so that tests run side by side: tests/zabbix
// use 2-29 and 60-99, tests/reports 30-39, the end-to-end tests 40-59.
class FakeZabbix {
 public:
  // What the server does with one connection.
  struct Answer {
    std::string bytes;        // written back after the request has been read
    bool hold = false;        // then keep the connection open until the client closes it
    bool readRequest = true;  // false: never read the request, just hold the connection
    std::chrono::milliseconds trickle{0};  // pause before each byte, if any
    bool reset = false;                    // end with a reset instead of an orderly close
    bool readAny = false;  // read what arrives first, whatever it is, not a framed request
  };
  // Called once per connection; request is empty when the answer says not to read it (the
  // script is asked first with an empty request to learn that).
  using Script = std::function<Answer(int connection, const std::string& request)>;

  FakeZabbix(const std::string& address, Script script, int port = 10052);
  explicit FakeZabbix(int n, Script script, int port = 10052)
      : FakeZabbix("127.0.0." + std::to_string(n), script, port) {}
  ~FakeZabbix();
  FakeZabbix(const FakeZabbix&) = delete;
  FakeZabbix& operator=(const FakeZabbix&) = delete;

  // Every request as received, header included, one per connection.
  std::vector<std::string> requests() const;
  // Waits until this many connections have been served, or the limit has passed.
  bool waitForRequests(std::size_t count, std::chrono::seconds limit) const;

  // Frames a reply body with the ZBXD header.
  static std::string frame(std::string_view body, unsigned char flags = 0x01);
  static Answer success();
  static Answer failed();
  static Answer closeAtOnce() { return {}; }
  static Answer silent() { return {"", true}; }

  // The body of a sender request, without its 13-byte header.
  static std::string body(const std::string& request) { return request.substr(13); }

 private:
  void serve();
  std::string readRequest(int fd);
  std::string readWhatArrives(int fd);
  void holdUntilClosed(int fd);
  void holdUnread(int fd);
  void answer(int fd, const Answer& answer);

  Script script_;
  Fd listener_;
  StopSignal stop_;  // asked by the destructor
  mutable std::mutex mutex_;
  mutable std::condition_variable served_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// An address where connections are never established: a listener whose queue is kept full, so
// that the kernel drops every further SYN, as a black-holed route does.
class BlackHole {
 public:
  // port 0 takes any free port.
  BlackHole(const std::string& address, int port);
  int port() const { return port_; }

 private:
  Fd listener_;
  int port_ = 0;
  std::vector<Fd> queued_;
};

}  // namespace bm::test
