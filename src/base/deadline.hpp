#pragma once

#include <sys/time.h>

#include <chrono>

namespace bm {

using Clock = std::chrono::steady_clock;

// The moment by which a step must be over. Every step that waits takes one, so that a peer that
// never answers costs a time-out, never a hang; the steps of one send share the send's deadline
// through earlierOf, so that none is given a fresh time of its own. The clock is a plain
// function that tests may replace, to make a step's time pass without waiting for it.
class Deadline {
 public:
  using Now = Clock::time_point (*)();

  // duration from now on the clock now.
  static Deadline after(Clock::duration duration, Now now = &Clock::now) {
    return Deadline(now() + duration, now);
  }
  // duration from now on this deadline's clock, or this deadline if it comes first.
  Deadline within(Clock::duration duration) const { return earlierOf(after(duration, now_)); }
  Deadline earlierOf(const Deadline& other) const { return other.at_ < at_ ? other : *this; }

  bool passed() const { return now_() >= at_; }
  // What is left, in whole milliseconds rounded up, as poll takes it: 0 once passed.
  int pollMilliseconds() const;
  // What is left, rounded up to microseconds, as c-ares takes it: zero once passed.
  timeval timeLeft() const;

 private:
  Deadline(Clock::time_point at, Now now) : at_(at), now_(now) {}
  Clock::duration left() const;

  Clock::time_point at_;
  Now now_;
};

}  // namespace bm
