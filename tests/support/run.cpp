#include "support/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "base/fd.hpp"
#include "support/capture.hpp"
#include "support/scoped.hpp"
#include "support/temp_dir.hpp"

namespace bm::test {
namespace {

struct Pipe {
  Fd read;
  Fd write;
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    read.reset(ends[0]);
    write.reset(ends[1]);
  }
};

// The spawn's file actions, destroyed however the spawn ends.
class FileActions {
 public:
  FileActions() {
    if (::posix_spawn_file_actions_init(&actions_) != 0) {
      throw std::runtime_error("posix_spawn_file_actions_init");
    }
  }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

std::vector<std::string> environment(const RunOptions& options) {
  std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"}, {"TZ", kTestZone}};
  for (const auto& [name, value] : options.env) env[name] = value;
  std::vector<std::string> out;
  out.reserve(env.size());
  for (const auto& [name, value] : env) {
    std::string& entry = out.emplace_back(name);
    entry += '=';
    entry += value;
  }
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  out.reserve(texts.size() + 1);
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

void drain(Pipe& out, Pipe& err, RunResult& result) {
  pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll");
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[k]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[k].fd = -1;
      }
    }
  }
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
  Pipe out;
  Pipe err;
  FileActions files;
  posix_spawn_file_actions_t* actions = files.get();
  posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.discardStdout) {
    posix_spawn_file_actions_addopen(actions, 1, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(actions, out.write.get(), 1);
  }
  posix_spawn_file_actions_adddup2(actions, err.write.get(), 2);
  if (options.inheritedDescriptor >= 0) {
    posix_spawn_file_actions_addopen(actions, options.inheritedDescriptor, "/dev/null", O_RDONLY,
                                     0);
  }
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(actions, options.directory.c_str());
  }
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment(options);
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);
  pid_t pid = 0;
  int rc = 0;
  if (options.searchPath) {
    // posix_spawnp searches the caller's PATH; the child's own PATH is the one given in env.
    const ScopedVariable path("PATH", options.env.at("PATH"));
    rc = ::posix_spawnp(&pid, argv[0].c_str(), actions, nullptr, argp.data(), envp.data());
  } else {
    rc = ::posix_spawn(&pid, options.program.c_str(), actions, nullptr, argp.data(), envp.data());
  }
  if (rc != 0) throw std::runtime_error("posix_spawn " + options.program);
  out.write.reset();
  err.write.reset();
  // Standard output that nobody reads: the read end goes, and draining sees it ended.
  if (options.closedStdout || options.discardStdout) out.read.reset();
  RunResult result{{}, {}, -1};
  drain(out, err, result);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peakKib = usage.ru_maxrss;
  return result;
}

std::string withoutLineNumbers(const std::string& report) {
  static const std::regex line(R"((\.cpp):[0-9]+\))");
  return std::regex_replace(report, line, "$1:N)");
}

// What body writes to the system log, as "<priority>text": body runs in a child whose /dev is
// private (a mount namespace: root only) and whose /dev/log is a socket read here while it runs.
// Nothing where that cannot be made.
std::optional<std::vector<std::string>> systemLogOf(const std::function<void()>& body) {
  if (::geteuid() != 0) return std::nullopt;
  const TempDir tmp;
  const std::string path = tmp / "log";
  const Fd log(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(log.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return std::nullopt;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", "/dev", "tmpfs", 0, nullptr) != 0 ||
        Fd(::open("/dev/log", O_CREAT | O_WRONLY | O_CLOEXEC, 0600)).get() < 0 ||
        ::mount(path.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) != 0) {
      ::_exit(77);
    }
    const CapturedStdout quiet;
    body();
    ::_exit(0);
  }
  // Read while the child writes: the socket's queue holds a few datagrams only.
  static const std::regex head(
      R"(<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d backup-monitor\[\d+\]: (.*))");
  std::vector<std::string> lines;
  int status = 0;
  for (bool running = true; running;) {
    running = ::waitpid(child, &status, WNOHANG) == 0;
    pollfd p{log.get(), POLLIN, 0};
    while (::poll(&p, 1, running ? 20 : 0) == 1) {
      char buffer[4096];
      const ssize_t n = ::recv(log.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::smatch parts;
      const std::string datagram(buffer, static_cast<std::size_t>(n));
      lines.push_back(std::regex_match(datagram, parts, head)
                          ? "<" + parts[1].str() + ">" + parts[2].str()
                          : "unreadable: " + datagram);
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return lines;
}

}  // namespace bm::test
