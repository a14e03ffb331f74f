// Process-wide copies of the port chosen for a burn, written when the port is set up and
// read when the burn runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "serial/SerialDevice.h"

namespace tarvok {

// The open port's device; null while no port is open.
extern std::atomic<SerialDevice*> burnPortHandle;
// The chosen burn rate's position in the rate list plus one (1-4); 0 keeps the port's rate.
extern std::atomic<int32_t> burnRateIndex;

}  // namespace tarvok
