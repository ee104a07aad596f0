// The moment by which a call must be done, on the steady clock.
//
// A call with a time limit makes one `Deadline` when it starts and hands it
// to every part that does the work: the per-qubit mode gives each saturation
// of a qubit's gate sequence what is `left` of the one limit, and the
// whole-program methods stop searching once it has `passed`. A limit too long
// for the clock, like a default-made deadline, means no deadline at all:
// `Deadline(std::chrono::seconds(5))` passes five seconds after it was made,
// `Deadline()` never.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace kestrel {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  Deadline() = default;
  explicit Deadline(std::chrono::nanoseconds limit, Clock::time_point start = Clock::now()) {
    // The room above `start` overflows when `start` lies before the clock's epoch.
    const Clock::duration since = start.time_since_epoch();
    if (since.count() < 0 || limit < Clock::duration::max() - since) at_ = start + limit;
  }
  // At the time `at`, or none.
  Deadline(std::optional<Clock::time_point> at) : at_(at) {}  // NOLINT: a time is a deadline

  // Whether the deadline has passed at `now`; never when there is none.
  bool passed(Clock::time_point now = Clock::now()) const { return at_ && now >= *at_; }
  // The time left at `now`, at most `limit`: the whole limit when there is no
  // deadline, nothing once it has passed.
  std::optional<std::chrono::nanoseconds> left(std::chrono::nanoseconds limit,
                                               Clock::time_point now = Clock::now()) const {
    if (!at_) return limit;
    if (now >= *at_) return std::nullopt;
    return std::min(limit, std::chrono::nanoseconds(*at_ - now));
  }
  // The time it passes at, or none.
  std::optional<Clock::time_point> at() const { return at_; }

 private:
  std::optional<Clock::time_point> at_;  // none: no deadline
};

}  // namespace kestrel
