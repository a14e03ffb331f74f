// How many boards a station still may start: it ends once the asked number have passed, and
// never starts more burns than could still be needed to get there.
#pragma once

#include <cstdint>
#include <mutex>

namespace tarvok {

class BoardBudget {
 public:
  explicit BoardBudget(uint64_t boardsToPass) : goal_(boardsToPass) {}  // 0: no end

  // Claims one burn; false once the boards passed and burning reach the goal.
  bool TryBegin() {
    const std::lock_guard lock(mutex_);
    if (goal_ != 0 && passed_ + burning_ >= goal_) {
      return false;
    }
    ++burning_;
    return true;
  }
  void End(bool passed) {
    const std::lock_guard lock(mutex_);
    --burning_;
    passed_ += passed ? 1 : 0;
  }
  bool GoalReached() const {
    const std::lock_guard lock(mutex_);
    return goal_ != 0 && passed_ >= goal_;
  }

 private:
  const uint64_t goal_;
  mutable std::mutex mutex_;
  uint64_t passed_ = 0;
  uint64_t burning_ = 0;
};

}  // namespace tarvok
