#include "catalogue/inventory.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/failure.hpp"
#include "base/fd.hpp"
#include "base/utf8.hpp"
#include "catalogue/unicode_name.hpp"

namespace bm {
namespace {

constexpr const char* kVariable = "BACKUP_MONITOR_INVENTORY";
// Far above any fleet (a million names of 60 bytes), far below what would wedge a run: a file
// that is not an inventory (a log, a disk image) is refused before it is read.
constexpr off_t kMostBytes = off_t{64} << 20;
// How much of a line a failure report quotes.
constexpr std::size_t kQuotedLine = 80;

[[noreturn]] void refuse(const std::string& problem, Origin origin = Origin::here()) {
  throw Failure(FailureKind::Configuration, std::string(kVariable) + ": " + problem, origin);
}

// The whole file, read at once. Opened without waiting, so that a FIFO cannot hold the run, and
// refused unless it is a regular file of a sane size.
std::string inventoryText(const std::string& path) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
    refuse("não foi possível ler " + quotedText(path) + ": " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) refuse(quotedText(path) + " não é um arquivo regular");
  if (status.st_size > kMostBytes) refuse(quotedText(path) + " tem mais de 64 MiB");
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refuse("não foi possível ler " + quotedText(path) + ": " + std::strerror(errno));
    if (n == 0) break;  // shortened while read: what was there
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmedBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A device name as a list writes it: something, without blanks or controls.
bool isName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) return false;
  }
  return true;
}

bool hasControls(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return true;
  }
  return false;
}

enum class Form { Unknown, Plain, RouterDb };

// The line's device: its name, empty for a router.db device that is not up; none when the line
// is not understood.
std::optional<std::string_view> lineDevice(std::string_view line, Form form) {
  if (hasControls(line)) return std::nullopt;
  if (form == Form::Plain) {
    if (!isName(line) || line.find(';') != std::string_view::npos) return std::nullopt;
    return line;
  }
  const std::size_t first = line.find(';');
  const std::size_t second = first == std::string_view::npos ? first : line.find(';', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view name = trimmedBlanks(line.substr(0, first));
  const std::size_t third = line.find(';', second + 1);
  const std::string_view state = trimmedBlanks(
      line.substr(second + 1, third == std::string_view::npos ? third : third - second - 1));
  if (!isName(name) || state.empty()) return std::nullopt;
  const bool up = state.size() == 2 && (state[0] == 'u' || state[0] == 'U') &&
                  (state[1] == 'p' || state[1] == 'P');
  return up ? name : std::string_view();
}

// The line as a failure report shows it: its start, cut at a character's beginning.
std::string shownLine(std::string_view line) {
  const std::string_view start = utf8::wholeStart(line, kQuotedLine);
  return quotedText(start) + (start.size() < line.size() ? "..." : "");
}

[[noreturn]] void notUnderstood(const std::string& path, std::size_t number, std::string_view line,
                                Form form) {
  refuse(quotedText(path) + ", linha " + std::to_string(number) + ": " + shownLine(line) +
         (form == Form::RouterDb
              ? " não entendida: o arquivo é um router.db (nome;tipo;estado em cada linha)"
              : " não entendida: o arquivo é uma lista (um nome de equipamento por linha)"));
}

}  // namespace

Inventory readInventory(const std::string& path) { return inventoryOf(inventoryText(path), path); }

Inventory inventoryOf(std::string_view text, const std::string& path) {
  Inventory inventory{path, {}};
  inventory.names.reserve(text.size() / 8, text.size());
  std::string_view rest = text;
  if (rest.substr(0, 3) == "\xef\xbb\xbf") rest.remove_prefix(3);
  Form form = Form::Unknown;
  std::string name;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trimmedBlanks(line);
    if (line.empty() || line.front() == '#') continue;
    if (form == Form::Unknown) {
      form = line.find(';') != std::string_view::npos ? Form::RouterDb : Form::Plain;
    }
    const std::optional<std::string_view> device = lineDevice(line, form);
    if (!device) notUnderstood(path, number, line, form);
    if (device->empty()) continue;
    // The same rules as a backup's host name, so that the two compare.
    trimmedUpper(*device, name);
    if (name.empty()) notUnderstood(path, number, line, form);
    inventory.names.intern(name);
  }
  if (inventory.names.size() == 0) {
    refuse(quotedText(path) + (form == Form::RouterDb
                                   ? " não lista nenhum equipamento com estado up"
                                   : " não lista nenhum equipamento"));
  }
  return inventory;
}

std::optional<Inventory> environmentInventory() {
  const char* path = std::getenv(kVariable);
  // An empty variable is an unset one, as with Zabbix's own.
  if (path == nullptr || *path == '\0') return std::nullopt;
  return readInventory(path);
}

InventoryGaps inventoryGaps(const Inventory& inventory, const Listing& listing,
                            const std::vector<std::uint32_t>& chosen) {
  std::vector<bool> backedUp(inventory.names.size());
  InventoryGaps gaps;
  for (const std::uint32_t i : chosen) {
    const std::string_view host = listing.hosts[listing.entries[i].host];
    if (const std::optional<std::uint32_t> id = inventory.names.find(host)) {
      backedUp[*id] = true;
    } else {
      gaps.unlisted.intern(host);
    }
  }
  for (std::uint32_t id = 0; id < inventory.names.size(); ++id) {
    if (!backedUp[id]) gaps.missing.push_back(id);
  }
  return gaps;
}

}  // namespace bm
