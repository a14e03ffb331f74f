// Draining a device by watching its driver's output queue: tcdrain and FlushFileBuffers would
// wait without bound for a line that no longer moves (a stalled adapter, flow control held),
// so the queue is polled against a deadline instead.
#pragma once

#include <cstdint>
#include <functional>

#include "serial/SerialDevice.h"

namespace tarvok {

// A device's side of a drain.
struct OutputQueue {
  // How many bytes the driver still holds; false, with the error recorded, when it cannot
  // tell.
  std::function<bool(uint32_t& queued)> count;
  // Records the time-out as the device's last error.
  std::function<void()> timedOut;
};

// Waits until the queue is empty and the transmitter has shifted out its last characters,
// at most twice what the queued bytes need plus a margin for a USB adapter's round trips.
// Returns at once when nothing is queued and nothing was written since the last drain,
// which `writtenSinceDrain` says and a drain clears.
DrainResult DrainQueue(const LineSettings& line, bool& writtenSinceDrain, const OutputQueue& queue);

}  // namespace tarvok
