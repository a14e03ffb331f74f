#include "serial/PreciseClock.h"

#include <chrono>
#include <thread>

namespace tarvok {
namespace {

// How long before the deadline a wait stops sleeping and spins: what a sleep on this
// platform may overshoot, so that the spin, not the sleep, ends every wait. A Linux sleep
// wakes up to a tenth of a millisecond late (timer slack and the scheduler), ten bytes at
// 921600 baud: spinning the last 0.2 ms keeps the simulated line's pacing and the drain of a
// fast rate within a character time (11 us there), while a millisecond's wait still sleeps
// four fifths of it. A Windows sleep ends on a tick of the system timer, a millisecond apart
// at the finest, so there the last 2 ms spin: the device's drain polls, a millisecond each,
// spin whole, and only the longer waits of slow rates sleep.
#ifdef _WIN32
constexpr int64_t kSpinUs = 2'000;
#else
constexpr int64_t kSpinUs = 200;
#endif

}  // namespace

int64_t MonotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WaitUntilUs(int64_t atUs) {
  const int64_t left = atUs - MonotonicUs();
  if (left > kSpinUs) {
    std::this_thread::sleep_for(std::chrono::microseconds(left - kSpinUs));
  }
  while (MonotonicUs() < atUs) {
    std::this_thread::yield();
  }
}

void WaitUs(int64_t us) {
  WaitUntilUs(MonotonicUs() + us);
}

}  // namespace tarvok
