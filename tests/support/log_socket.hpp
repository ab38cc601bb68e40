#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/fd.hpp"
#include "support/stop_signal.hpp"
#include "support/temp_dir.hpp"

namespace bm::test {

// A datagram socket in a temporary directory standing in for the system log: a SystemLog opened
// on path() writes to it, and lines() gives what came, each as "<priority>text", or
// "unreadable: ..." for a datagram not in syslog(3)'s form. It is read while the test runs, as
// a daemon reads, so that a burst of lines is not lost to the socket's short queue; or, as a
// daemon that is busy, only once readAfter has passed.
class LogSocket {
 public:
  LogSocket() : LogSocket("") {}
  // At path (in a temporary directory of its own when empty); a path given is removed with it,
  // as a daemon that stops leaves no socket behind.
  explicit LogSocket(const std::string& path,
                     std::chrono::milliseconds readAfter = std::chrono::milliseconds(0));
  ~LogSocket();
  LogSocket(const LogSocket&) = delete;
  LogSocket& operator=(const LogSocket&) = delete;

  const std::string& path() const { return path_; }
  // Everything that has come so far; the socket is read to its end first.
  std::vector<std::string> lines();

 private:
  void read(std::chrono::milliseconds readAfter);
  void stop();

  TempDir dir_;
  std::string path_;
  bool ownPath_;
  Fd socket_;
  StopSignal stop_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread reader_;
};

}  // namespace bm::test
