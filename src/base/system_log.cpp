#include "base/system_log.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "base/failure.hpp"
#include "base/fd.hpp"

namespace bm::systemlog {
namespace {

constexpr const char* kSocket = "/dev/log";
constexpr const char* kTag = "backup-monitor";
constexpr int kFacilityUser = 1 << 3;
// Longer texts are cut: a datagram this size reaches every syslog daemon whole.
constexpr std::size_t kMaxText = 1900;

// Connected once, non-blocking; -1 when there is no log to write to.
int logSocket() {
  static const Fd socket = [] {
    Fd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kSocket, sizeof address.sun_path - 1);
    if (fd.get() >= 0 &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      fd.reset();
    }
    return fd;
  }();
  return socket.get();
}

// "Mmm dd hh:mm:ss", local time, month names in English whatever the locale, as syslog(3).
std::string timestamp() {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return "Jan  1 00:00:00";
  char text[32];
  std::snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon], local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::size_t& detailLines() {
  static std::size_t lines = 0;
  return lines;
}

}  // namespace

void write(Severity severity, std::string_view text) {
  const int fd = logSocket();
  if (fd < 0) return;
  std::string shown = visibleText(text);
  if (shown.size() > kMaxText) {
    std::size_t cut = kMaxText;
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
    shown.resize(cut);  // whole characters only
  }
  // Appended piece by piece: GCC 12 misreads a chain of + on a temporary as overlapping copies.
  std::string line = "<";
  line += std::to_string(kFacilityUser | static_cast<int>(severity));
  line += '>';
  line += timestamp();
  line += ' ';
  line += kTag;
  line += '[';
  line += std::to_string(::getpid());
  line += "]: ";
  line += shown;
  // A log that is full or gone loses the line; the run goes on.
  (void)::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void detail(Severity severity, std::string_view text) {
  if (++detailLines() <= kDetailLines) write(severity, text);
}

std::size_t omitted() { return detailLines() > kDetailLines ? detailLines() - kDetailLines : 0; }

}  // namespace bm::systemlog
