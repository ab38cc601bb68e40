#include "base/deadline.hpp"

#include <algorithm>

namespace bm {

Clock::duration Deadline::left() const { return std::max(at_ - now_(), Clock::duration::zero()); }

int Deadline::pollMilliseconds() const {
  // poll takes an int: a wait of more than about twelve days is cut to that and taken again.
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left()).count();
  return static_cast<int>(std::min<long long>(milliseconds, 1 << 30));
}

timeval Deadline::timeLeft() const {
  const auto microseconds = std::chrono::ceil<std::chrono::microseconds>(left()).count();
  return {static_cast<time_t>(microseconds / 1000000),
          static_cast<suseconds_t>(microseconds % 1000000)};
}

}  // namespace bm
