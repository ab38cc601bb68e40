#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "base/fd.hpp"

namespace bm {

// The operator's second channel, for what the console has no room for: why an attempt failed,
// what was given up, what a run did. Lines go to a system log socket (/dev/log) as syslog(3)
// writes them (facility user, tag "backup-monitor", the process id), so journald or any syslog
// daemon takes them. Nothing here fails, and nothing waits for long: without a daemon a line is
// dropped, and a daemon that is not keeping up gets a short wait, bounded over the whole run.
// Text from outside is escaped as in failure reports, and bytes that are not UTF-8 as \xNN, so
// that journalctl shows text, not a blob. A daemon that restarts makes its socket anew: the
// next line connects again. One per run, opened by main.
class SystemLog {
 public:
  enum class Severity { Error = 3, Warning = 4, Notice = 5, Info = 6 };

  static constexpr const char* kSystemSocket = "/dev/log";
  // Detail lines are bounded per run: the first kDetailLines are written, the others only
  // counted, so that an outage of thousands of devices writes a few dozen lines, not one per
  // attempt.
  static constexpr std::size_t kDetailLines = 20;
  // How long a run may wait in all for a log whose queue is full.
  static constexpr std::chrono::milliseconds kMostWaited{1000};

  // Connects to the datagram socket at path; an empty path, or one nothing listens on, drops
  // every line.
  explicit SystemLog(const std::string& path = kSystemSocket);

  void write(Severity severity, std::string_view text);
  // A line counted against the run's kDetailLines.
  void detail(Severity severity, std::string_view text);
  // How many detail lines this run has left out.
  std::size_t omitted() const {
    return detailLines_ > kDetailLines ? detailLines_ - kDetailLines : 0;
  }

 private:
  void send(const std::string& line);
  // Sends once; false with errno when it did not go.
  bool sendOnce(const std::string& line);

  std::string path_;
  Fd socket_;
  std::size_t detailLines_ = 0;
  std::chrono::milliseconds waitLeft_ = kMostWaited;
};

}  // namespace bm
