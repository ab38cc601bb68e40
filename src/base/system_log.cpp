#include "base/system_log.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/deadline.hpp"
#include "base/failure.hpp"
#include "base/utf8.hpp"

namespace bm {
namespace {

constexpr const char* kTag = "backup-monitor";
constexpr int kFacilityUser = 1 << 3;
// Longer texts are cut: a datagram this size reaches every syslog daemon whole.
constexpr std::size_t kMaxText = 1900;

// Non-blocking, so that a full queue is a short wait of our own choosing, never the kernel's.
Fd connectTo(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return Fd();
  Fd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (fd.get() >= 0 &&
      ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fd.reset();
  }
  return fd;
}

// Each byte that does not belong to a well-formed UTF-8 character as \xNN, the rest unchanged.
std::string withBytesEscaped(std::string_view text) {
  if (utf8::isAscii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t codePoint = utf8::next(text, i);
    const std::string_view bytes = text.substr(start, i - start);
    if (codePoint == utf8::kReplacement && bytes != "\xef\xbf\xbd") {
      appendByteEscape(out, static_cast<unsigned char>(bytes[0]));
    } else {
      out += bytes;
    }
  }
  return out;
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

}  // namespace

SystemLog::SystemLog(const std::string& path) : path_(path), socket_(connectTo(path)) {}

void SystemLog::write(Severity severity, std::string_view text) {
  if (path_.empty()) return;
  std::string shown = withBytesEscaped(visibleText(text));
  shown.resize(utf8::wholeStart(shown, kMaxText).size());
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
  send(line);
}

// A daemon's queue holds few datagrams (ten, by the kernel's default): a burst waits for room,
// within what is left of the run's kMostWaited. A log that is gone, or still full once that is
// spent, loses the line; the run goes on.
void SystemLog::send(const std::string& line) {
  for (;;) {
    if (sendOnce(line)) return;
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || waitLeft_.count() <= 0) return;
    const auto start = Clock::now();
    pollfd p{socket_.get(), POLLOUT, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(waitLeft_.count()));
    waitLeft_ -= std::chrono::ceil<std::chrono::milliseconds>(Clock::now() - start);
    if (ready == 0) waitLeft_ = std::chrono::milliseconds(0);
    if (ready < 0 && errno != EINTR) return;
  }
}

// A socket whose daemon has gone (refused, or never connected) is connected anew, once per line:
// a daemon that restarted listens on a new socket at the same path.
bool SystemLog::sendOnce(const std::string& line) {
  const auto sent = [&] {
    return ::send(socket_.get(), line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
  };
  if (socket_.get() >= 0 && sent()) return true;
  if (socket_.get() >= 0 && errno != ECONNREFUSED && errno != ENOTCONN) return false;
  socket_ = connectTo(path_);
  if (socket_.get() < 0) {
    errno = ENOTCONN;
    return false;
  }
  return sent();
}

void SystemLog::detail(Severity severity, std::string_view text) {
  if (++detailLines_ <= kDetailLines) write(severity, text);
}

}  // namespace bm
