// The floor under every scan: a directory's listing through getdents64 and nothing else, each
// name written out; with --status, also each entry's status (fstatat) and its modification time.
// What a scan does beyond this (names taken apart, duplicates removed, lines made) is its own
// cost.
//   listing_floor [--status] DIR
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

// Output in 64 KiB blocks, as the agent's console writes it.
class Out {
 public:
  Out() = default;
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  ~Out() { flush(); }
  void put(std::string_view text) {
    if (used_ + text.size() > sizeof buffer_) flush();
    std::memcpy(buffer_ + used_, text.data(), text.size());
    used_ += text.size();
  }
  void flush() {
    for (std::size_t done = 0; done < used_;) {
      const ssize_t n = ::write(1, buffer_ + done, used_ - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
    used_ = 0;
  }

 private:
  char buffer_[65536];
  std::size_t used_ = 0;
};

void putNumber(Out& out, long value) {
  char text[24];
  std::size_t at = sizeof text;
  do {
    text[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  out.put(std::string_view(text + at, sizeof text - at));
}

}  // namespace

int main(int argc, char** argv) {
  const bool status = argc == 3 && std::string_view(argv[1]) == "--status";
  if (argc != 2 && !status) {
    std::fprintf(stderr, "usage: listing_floor [--status] DIR\n");
    return 2;
  }
  const int dir = ::open(argv[argc - 1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    std::perror(argv[argc - 1]);
    return 1;
  }
  static Out out;
  alignas(8) static char listing[32768];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dir, listing, sizeof listing);
    if (n < 0) {
      std::perror("getdents64");
      return 1;
    }
    if (n == 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(listing + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      out.put(name);
      if (status) {
        struct stat st {};
        if (::fstatat(dir, name, &st, 0) != 0) {
          std::perror(name);
          return 1;
        }
        out.put(" ");
        putNumber(out, st.st_mtim.tv_sec);
      }
      out.put("\n");
    }
  }
  out.flush();
  ::close(dir);
  return 0;
}
