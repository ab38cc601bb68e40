#include "support/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <stdexcept>

#include "support/temp_dir.hpp"

namespace bm::test {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    read = ends[0];
    write = ends[1];
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
  void closeWrite() {
    ::close(write);
    write = -1;
  }
  void closeRead() {
    ::close(read);
    read = -1;
  }
};

std::vector<std::string> environment(const RunOptions& options) {
  std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"}, {"TZ", kTestZone}};
  for (const auto& [name, value] : options.env) env[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : env) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

void drain(Pipe& out, Pipe& err, RunResult& result) {
  pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
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
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write, 2);
  if (options.inheritedDescriptor >= 0) {
    posix_spawn_file_actions_addopen(&actions, options.inheritedDescriptor, "/dev/null", O_RDONLY,
                                     0);
  }
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  }
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment(options);
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);
  pid_t pid = 0;
  int rc = 0;
  if (options.searchPath) {
    // posix_spawnp searches the caller's PATH; the child's own PATH is the one given in env.
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", options.env.at("PATH").c_str(), 1);
    rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    ::setenv("PATH", saved.c_str(), 1);
  } else {
    rc = ::posix_spawn(&pid, options.program.c_str(), &actions, nullptr, argp.data(), envp.data());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("posix_spawn " + options.program);
  out.closeWrite();
  err.closeWrite();
  if (options.closedStdout) out.closeRead();
  RunResult result{{}, {}, -1};
  if (options.closedStdout) {
    Pipe none;
    none.closeWrite();
    drain(none, err, result);
  } else {
    drain(out, err, result);
  }
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

}  // namespace bm::test
