#include "serial/QueueDrain.h"

#include <algorithm>

#include "serial/LineTiming.h"
#include "serial/PreciseClock.h"

namespace tarvok {

DrainResult DrainQueue(const LineSettings& line, bool& writtenSinceDrain,
                       const OutputQueue& queue) {
  uint32_t queued = 0;
  if (!queue.count(queued)) {
    return DrainResult::kFailed;
  }
  if (queued == 0 && !writtenSinceDrain) {
    return DrainResult::kDrained;
  }
  constexpr int64_t kMarginUs = 200'000;
  constexpr int64_t kPollUs = 1'000;
  const int64_t characterUs = CharacterTimeUs(line);
  const int64_t deadline = MonotonicUs() + 2 * int64_t{queued} * characterUs + kMarginUs;
  while (queued > 0) {
    if (MonotonicUs() >= deadline) {
      queue.timedOut();
      return DrainResult::kTimedOut;
    }
    WaitUs(std::min(kPollUs, int64_t{queued} * characterUs));
    if (!queue.count(queued)) {
      return DrainResult::kFailed;
    }
  }
  // The queue counts what the driver holds; the transmitter still shifts out its last
  // characters.
  WaitUs(2 * characterUs);
  writtenSinceDrain = false;
  return DrainResult::kDrained;
}

}  // namespace tarvok
