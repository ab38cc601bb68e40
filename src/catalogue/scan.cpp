#include "catalogue/scan.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>

#include "base/failure.hpp"
#include "base/system_log.hpp"
#include "catalogue/dates.hpp"
#include "catalogue/file_names.hpp"

namespace bm {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

Directory openDirectory(const std::string& caminho) {
  Directory dir(::opendir(caminho.c_str()));
  if (!dir) failSystem("opendir " + caminho, errno);
  return dir;
}

// The next name but "." and "..", or nullptr at the end of the listing.
const char* nextName(DIR* dir, const std::string& caminho) {
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) failSystem("readdir " + caminho, errno);
      return nullptr;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    return name;
  }
}

// Reads an entry's status relative to the open directory (following links, as stat does), and
// names it caminho + "/" + name when it fails: not normalised, so a trailing slash doubles.
struct StatusReader {
  int directory;
  const std::string& caminho;

  // Nothing when the entry itself is gone since the listing.
  std::optional<struct timespec> modificationTime(const char* name) const {
    struct stat status {};
    if (::fstatat(directory, name, &status, 0) == 0) return status.st_mtim;
    const int error = errno;
    if (error == ENOENT && ::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT) {
      return std::nullopt;
    }
    failSystem("stat " + caminho + "/" + name, error);
  }
};

void noteGone(SystemLog* log, const std::string& caminho, const char* name) {
  if (log == nullptr) return;
  log->detail(SystemLog::Severity::Notice, "o arquivo " + quotedText(name) + " saiu de " +
                                               quotedText(caminho) +
                                               " entre a listagem e a leitura de seus dados; "
                                               "ficou de fora desta execução");
}

double seconds(const struct timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The size a file system gives a directory, from which its number of entries is bounded; 0 where
// it says nothing.
std::size_t directoryBytes(int directory) {
  struct stat status {};
  if (::fstat(directory, &status) != 0 || status.st_size < 0) return 0;
  return static_cast<std::size_t>(status.st_size);
}

// The date text of a modification day: a directory's files share days, so the text of the last
// day is looked up only when the day changes.
class ModificationDays {
 public:
  std::uint32_t of(std::time_t when, Listing& listing) {
    const std::string& text = days_.dateOf(when);
    if (text != last_) {
      last_ = text;
      id_ = listing.date(text);
    }
    return id_;
  }

 private:
  LocalDays days_;
  std::string last_;
  std::uint32_t id_ = 0;
};

// A name-field directory's host names, interned some at a time: a directory lists its files in
// no useful order, so each lookup in a large table waits on memory, and these waits overlap
// when every lookup's next step is fetched before any lookup is made.
class HostBatch {
 public:
  void add(std::string host, std::uint32_t entry, Listing& listing) {
    Pending& p = pending_[count_++];
    p.hash = TextTable::hashOf(host);
    p.host = std::move(host);
    p.entry = entry;
    listing.hosts.prefetch(p.hash, 0);
    if (count_ == kSize) settle(listing);
  }

  void settle(Listing& listing) {
    for (int step = 1; step <= 2; ++step) {
      for (std::size_t k = 0; k < count_; ++k) listing.hosts.prefetch(pending_[k].hash, step);
    }
    for (std::size_t k = 0; k < count_; ++k) {
      const Pending& p = pending_[k];
      listing.entries[p.entry].host = listing.hosts.intern(p.host, p.hash);
    }
    count_ = 0;
  }

 private:
  static constexpr std::size_t kSize = 16;
  struct Pending {
    std::string host;
    std::uint64_t hash = 0;
    std::uint32_t entry = 0;
  };
  std::array<Pending, kSize> pending_;
  std::size_t count_ = 0;
};

Listing scan(const std::string& caminho, SystemLog* log, ScanReads reads) {
  Directory dir = openDirectory(caminho);
  Listing listing;
  listing.scheme = namingSchemeFor(caminho);
  listing.keepsNames = reads == ScanReads::TimesAndNames;
  listing.reserve(directoryBytes(::dirfd(dir.get())));
  const StatusReader status{::dirfd(dir.get()), caminho};
  ModificationDays days;
  const bool named = listing.scheme == NamingScheme::NameFields;
  const bool withTimes = reads != ScanReads::NameOnly;
  HostBatch hosts;
  std::string wholeName;
  while (const char* name = nextName(dir.get(), caminho)) {
    // A name without its fields is said before anything is read of the file.
    BackupEntry fields = named ? nameFieldsEntry(name) : BackupEntry{};
    ListedEntry entry;
    std::optional<struct timespec> mtime;
    if (withTimes || !named) {
      mtime = status.modificationTime(name);
      if (!mtime) {
        noteGone(log, caminho, name);
        continue;
      }
      entry.modified = seconds(*mtime);
    }
    if (named) {
      entry.date = listing.date(fields.dataHost);
      entry.shape = foldedShape(fields.nameShape);
      if (!listing.days[entry.date]) {
        listing.undated.push_back({fields.dataHost, fields.nomeHost, name});
      }
    } else {
      hostFromWholeName(name, wholeName);
      entry.host = listing.hosts.append(wholeName);
      entry.date = days.of(mtime->tv_sec, listing);
    }
    if (listing.keepsNames) entry.name = listing.names.append(name);
    listing.entries.push_back(entry);
    if (named) {
      hosts.add(std::move(fields.nomeHost), static_cast<std::uint32_t>(listing.entries.size() - 1),
                listing);
    }
  }
  hosts.settle(listing);
  return listing;
}

}  // namespace

NamingScheme namingSchemeFor(std::string_view caminho) {
  return caminho.find("huawei") != std::string_view::npos ? NamingScheme::NameFields
                                                          : NamingScheme::ModificationTime;
}

Listing listBackupDirectory(const std::string& caminho, ScanReads reads, SystemLog* log) {
  return scan(caminho, log, reads);
}

ScanResult scanBackupDirectory(const std::string& caminho, SystemLog* log) {
  return scanResultOf(scan(caminho, log, ScanReads::NameOnly));
}

ScanResult scanBackupDirectoryWithTimes(const std::string& caminho, SystemLog* log) {
  return scanResultOf(scan(caminho, log, ScanReads::Times));
}

}  // namespace bm
