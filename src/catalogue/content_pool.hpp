#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalogue/backup_content.hpp"

namespace bm {

// The cores this process may run on: its affinity, which taskset, cgroups' cpusets and container
// limits narrow, not the machine's count.
unsigned usableCores();

// The readers a run of files should have: one per core this process may run on, never more
// than there are files, at least one.
unsigned readersFor(std::size_t files);

// Reads a run of backup files on several threads, each with a reader of its own (so a fixed
// memory per thread), and hands their contents back strictly in the run's order: the caller
// prints or sends each as it would have read it. Readers run at most a few files ahead of the
// caller, so contents wait in a window of fixed size, never the whole run. The caller is one of
// the readers: with one, no thread is started and each file is read when its turn is asked for.
class ContentPool {
 public:
  // pathOf(i) is the i-th file's path; it is called from the readers' threads, so it may only
  // read what nobody changes meanwhile.
  ContentPool(std::size_t files, std::function<std::string(std::size_t)> pathOf, unsigned readers,
              const LastLinePattern* lastLine);
  ContentPool(const ContentPool&) = delete;
  ContentPool& operator=(const ContentPool&) = delete;
  // Stops the readers after the files they are reading, and waits for them.
  ~ContentPool();

  // The next file's path and content; a failure that rose while reading it rises here.
  std::pair<std::string, BackupContent> next();

 private:
  struct Slot {
    bool ready = false;
    std::string path;
    BackupContent content;
    std::exception_ptr failure;
  };

  bool claimable() const;
  // Reads file i with reader into its slot (setup: why this thread has no reader).
  void read(BackupContentReader* reader, const std::exception_ptr& setup, std::size_t i);
  void work();
  void stop();

  const std::size_t files_;
  const std::function<std::string(std::size_t)> pathOf_;
  const LastLinePattern* const lastLine_;
  std::unique_ptr<BackupContentReader> own_;  // the caller's own reader
  std::mutex mutex_;
  std::condition_variable ready_;  // a slot was filled
  std::condition_variable room_;   // a slot was taken, or the pool is stopping
  std::vector<Slot> window_;       // file i waits in window_[i % size]
  std::size_t claimed_ = 0;        // files handed to readers
  std::size_t taken_ = 0;          // files handed to the caller
  static constexpr std::size_t kNobody = static_cast<std::size_t>(-1);
  std::size_t awaited_ = kNobody;  // the file the caller waits for
  unsigned readersWaiting_ = 0;    // readers waiting for room
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace bm
