#pragma once

#include <cstddef>
#include <string_view>

namespace bm::systemlog {

// The operator's second channel, for what the console has no room for: why an attempt failed,
// what was given up, what a run did. Lines go to the system log's socket (/dev/log) as syslog(3)
// writes them (facility user, tag "backup-monitor", the process id), so journald or any syslog
// daemon takes them. Nothing here waits or fails: without a daemon, or with one that is not
// keeping up, a line is dropped. Text from outside is escaped as in failure reports.
enum class Severity { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void write(Severity severity, std::string_view text);

// Detail lines are bounded per run: the first kDetailLines are written, the others only counted,
// so that an outage of thousands of devices writes a few dozen lines, not one per attempt.
inline constexpr std::size_t kDetailLines = 20;
void detail(Severity severity, std::string_view text);
// How many detail lines this run has left out.
std::size_t omitted();

}  // namespace bm::systemlog
