#include "support/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
  result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return result;
}

std::string withoutLineNumbers(const std::string& report) {
  static const std::regex line(R"((\.cpp):[0-9]+\))");
  return std::regex_replace(report, line, "$1:N)");
}

}  // namespace bm::test
