#include "catalogue/content_pool.hpp"

#include <sched.h>

#include <algorithm>

namespace bm {
namespace {

// Files that may wait read for the caller, per reader: enough that a reader seldom waits for
// room while another reads a larger file. A content waiting is a few hundred bytes.
constexpr std::size_t kWaitingPerReader = 16;

}  // namespace

unsigned usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

unsigned readersFor(std::size_t files) {
  return static_cast<unsigned>(std::clamp<std::size_t>(files, 1, usableCores()));
}

ContentPool::ContentPool(std::size_t files, std::function<std::string(std::size_t)> pathOf,
                         unsigned readers, const LastLinePattern* lastLine)
    : files_(files),
      pathOf_(std::move(pathOf)),
      lastLine_(lastLine),
      own_(std::make_unique<BackupContentReader>(lastLine_)),
      window_(kWaitingPerReader * std::max(1U, readers)) {
  // The caller reads too, while the file it waits for is not ready: one thread fewer, and no
  // sleep and wake per file when files are small.
  try {
    for (unsigned r = 1; r < readers; ++r) threads_.emplace_back([this] { work(); });
  } catch (...) {
    stop();
    throw;
  }
}

ContentPool::~ContentPool() { stop(); }

void ContentPool::stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

bool ContentPool::claimable() const {
  return claimed_ < files_ && claimed_ < taken_ + window_.size();
}

void ContentPool::read(BackupContentReader* reader, const std::exception_ptr& setup,
                       std::size_t i) {
  Slot slot;
  try {
    if (setup) std::rethrow_exception(setup);
    slot.path = pathOf_(i);
    slot.content = reader->read(slot.path);
  } catch (...) {
    slot.failure = std::current_exception();
  }
  slot.ready = true;
  bool awaited = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Its slot is free: a file is claimed only once the one window_.size() before it is taken.
    window_[i % window_.size()] = std::move(slot);
    awaited = awaited_ == i;
  }
  // The caller is woken only for the file it waits for: a wake for any other is a switch for
  // nothing.
  if (awaited) ready_.notify_one();
}

void ContentPool::work() {
  // A reader that cannot be made (memory) fails each file this thread takes, in its turn.
  std::unique_ptr<BackupContentReader> reader;
  std::exception_ptr setup;
  try {
    reader = std::make_unique<BackupContentReader>(lastLine_);
  } catch (...) {
    setup = std::current_exception();
  }
  for (;;) {
    std::size_t i = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++readersWaiting_;
      room_.wait(lock, [this] { return stopping_ || claimed_ >= files_ || claimable(); });
      --readersWaiting_;
      if (stopping_ || claimed_ >= files_) return;
      i = claimed_++;
    }
    read(reader.get(), setup, i);
  }
}

std::pair<std::string, BackupContent> ContentPool::next() {
  Slot slot;
  bool wake = false;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& waiting = window_[taken_ % window_.size()];
    if (!waiting.ready && claimable()) {
      const std::size_t i = claimed_++;
      lock.unlock();
      read(own_.get(), nullptr, i);
      continue;
    }
    awaited_ = taken_;
    ready_.wait(lock, [&waiting] { return waiting.ready; });
    awaited_ = kNobody;
    slot = std::exchange(waiting, Slot());
    ++taken_;
    wake = readersWaiting_ > 0;
    break;
  }
  if (wake) room_.notify_one();
  if (slot.failure) std::rethrow_exception(slot.failure);
  return {std::move(slot.path), std::move(slot.content)};
}

}  // namespace bm
