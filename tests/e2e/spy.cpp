// Stands in for the program as a launched child: records its arguments, its open descriptors
// and its process group in $SPY_OUT, then waits for $SPY_RELEASE before writing $SPY_DONE.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string hex(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 0xf];
  }
  return out;
}

std::string describe(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return "?";
  const char* kind = S_ISFIFO(status.st_mode) ? "pipe" : S_ISCHR(status.st_mode) ? "chr" : "other";
  return std::string(kind) + ":" + std::to_string(status.st_ino);
}

// Read before the record file is opened, which would otherwise show up among them.
std::string openDescriptors() {
  std::string out;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return out;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == ::dirfd(dir)) continue;
    out += "fd " + std::to_string(fd) + " " + describe(fd) + "\n";
  }
  ::closedir(dir);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("SPY_OUT");
  if (path == nullptr) return 2;
  const std::string descriptors = openDescriptors();
  {
    const std::string partial = std::string(path) + ".partial";
    std::ofstream out(partial);
    for (int i = 0; i < argc; ++i) out << "arg " << hex(argv[i]) << "\n";
    out << "pgrp " << ::getpgrp() << "\n";
    out << descriptors;
    out.close();
    std::rename(partial.c_str(), path);
  }
  const char* release = std::getenv("SPY_RELEASE");
  const char* done = std::getenv("SPY_DONE");
  for (int i = 0; release != nullptr && i < 2000 && ::access(release, F_OK) != 0; ++i) {
    ::usleep(10000);
  }
  if (done != nullptr) std::ofstream(done) << "done\n";
  return 0;
}
