#include "cli/launch.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/fd.hpp"
#include "base/process_values.hpp"
#include "zabbix/tls.hpp"

extern char** environ;

namespace bm {
namespace {

constexpr std::string_view kLaunch = "launch_";

class SpawnFileActions {
 public:
  SpawnFileActions() {
    if (int rc = ::posix_spawn_file_actions_init(&actions_); rc != 0) {
      failSystem("posix_spawn_file_actions_init", rc);
    }
  }
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  void dup2(int fd, int target) {
    if (int rc = ::posix_spawn_file_actions_adddup2(&actions_, fd, target); rc != 0) {
      failSystem("posix_spawn_file_actions_adddup2", rc);
    }
  }
  void closeFrom(int lowest) {
    if (int rc = ::posix_spawn_file_actions_addclosefrom_np(&actions_, lowest); rc != 0) {
      failSystem("posix_spawn_file_actions_addclosefrom_np", rc);
    }
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Keeps a pipe end off 0, 1 and 2, which the child's own standard streams take: a dup2 onto the
// same number would leave it close-on-exec.
Fd aboveStandardStreams(Fd fd) {
  if (fd.get() > STDERR_FILENO) return fd;
  Fd moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  if (moved.get() < 0) failSystem("fcntl F_DUPFD_CLOEXEC", errno);
  return moved;
}

struct Pipe {
  Fd read;
  Fd write;
};

Pipe newPipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) failSystem("pipe2", errno);
  Fd read(ends[0]);
  Fd write(ends[1]);
  return Pipe{aboveStandardStreams(std::move(read)), aboveStandardStreams(std::move(write))};
}

// Starts the child with its standard output and error on the pipe's write end and no other
// descriptor but standard input; returns once the program has been started.
void spawnChild(const std::vector<std::string>& argv, const Pipe& console) {
  SpawnFileActions actions;
  actions.dup2(console.write.get(), STDOUT_FILENO);
  actions.dup2(console.write.get(), STDERR_FILENO);
  actions.closeFrom(STDERR_FILENO + 1);
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  pid_t pid = 0;
  if (int rc = ::posix_spawnp(&pid, pointers[0], actions.get(), nullptr, pointers.data(), environ);
      rc != 0) {
    failSystem("posix_spawnp " + argv[0], rc);
  }
}

}  // namespace

std::vector<std::string> childArguments(const std::vector<std::string>& arguments,
                                        std::string_view mode) {
  std::vector<std::string> argv;
  argv.push_back(arguments.empty() ? std::string() : arguments[0]);
  argv.emplace_back(mode.substr(mode.rfind(kLaunch) + kLaunch.size()));
  for (std::size_t i = 2; i < arguments.size(); ++i) argv.push_back(arguments[i]);
  return argv;
}

void launch(const std::string& mode) {
  // The child's console is read by nobody: encryption settings it could not use are told here,
  // before it starts.
  loadEnvironmentTls();
  const Pipe console = newPipe();
  spawnChild(childArguments(argumentList(), mode), console);
  // The read end stays open, unread, until this process ends; the child is not waited for.
  console::line("Processo inicializado com sucesso!");
  console::endProcess(0);
}

}  // namespace bm
