// One monotonic microsecond clock, and waits that end on time to a few microseconds: the
// serial devices wait out character times with them, and the simulated chip paces its line.
#pragma once

#include <cstdint>

namespace tarvok {

// Microseconds since an arbitrary start; never goes back.
int64_t MonotonicUs();

// Waits until MonotonicUs() reaches `atUs`: sleeps most of the way and spins the rest, so
// the wait ends neither early nor late by more than a few microseconds, without holding a
// core for the long part of a slow rate's wait.
void WaitUntilUs(int64_t atUs);

// Waits `us` microseconds, as precisely as WaitUntilUs.
void WaitUs(int64_t us);

}  // namespace tarvok
