#include "catalogue/scan.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
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

ScanResult scan(const std::string& caminho, SystemLog* log, bool withTimes,
                bool withNames = false) {
  Directory dir = openDirectory(caminho);
  ScanResult result{namingSchemeFor(caminho), {}};
  const StatusReader status{::dirfd(dir.get()), caminho};
  LocalDays days;
  const bool named = result.scheme == NamingScheme::NameFields;
  while (const char* name = nextName(dir.get(), caminho)) {
    // A name without its fields is said before anything is read of the file.
    BackupEntry entry = named ? nameFieldsEntry(name) : BackupEntry{};
    std::optional<struct timespec> mtime;
    if (withTimes || !named) {
      mtime = status.modificationTime(name);
      if (!mtime) {
        noteGone(log, caminho, name);
        continue;
      }
      entry.dataModificacao = seconds(*mtime);
    }
    if (named) {
      entry.day = parseDate(entry.dataHost);
      if (!entry.day) result.undated.push_back({entry.dataHost, entry.nomeHost, name});
    } else {
      entry.nomeHost = hostFromWholeName(name);
      entry.dataHost = days.dateOf(mtime->tv_sec);
    }
    if (withNames) {
      entry.fileIndex = static_cast<std::uint32_t>(result.fileNames.size());
      result.fileNames.emplace_back(name);
    }
    result.entries.push_back(std::move(entry));
  }
  return result;
}

}  // namespace

NamingScheme namingSchemeFor(std::string_view caminho) {
  return caminho.find("huawei") != std::string_view::npos ? NamingScheme::NameFields
                                                          : NamingScheme::ModificationTime;
}

ScanResult scanBackupDirectory(const std::string& caminho, SystemLog* log) {
  return scan(caminho, log, false);
}

ScanResult scanBackupDirectoryWithTimes(const std::string& caminho, SystemLog* log) {
  return scan(caminho, log, true);
}

ScanResult scanBackupDirectoryWithNames(const std::string& caminho, SystemLog* log) {
  return scan(caminho, log, true, true);
}

}  // namespace bm
