// What a station tells the people watching it, from its ports' threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "station/records/StationLog.h"

namespace tarvok {

enum class PortPhase {
  kWaitingForBoard,
  kBurning,
  kWaitingForLeave,
  kStopped,  // the port gave up (failures in a row, a fault of its own) or the station stopped
};

struct PortCounts {
  uint64_t passed = 0;
  uint64_t failed = 0;
  uint64_t interrupted = 0;

  PortCounts& operator+=(const PortCounts& more) {
    passed += more.passed;
    failed += more.failed;
    interrupted += more.interrupted;
    return *this;
  }
};

// Called from the ports' threads, one port's calls in order; an implementation that shows them
// hands them over to its own thread or locks.
class StationObserver {
 public:
  virtual ~StationObserver() = default;
  // The port entered `phase`; `detail` says what it waits for or why it stopped.
  virtual void OnPortPhase(std::size_t /*port*/, PortPhase /*phase*/,
                           const std::string& /*detail*/) {}
  // Something the port's people should read now, such as a board that shows no sign of leaving.
  virtual void OnPortNotice(std::size_t /*port*/, const std::string& /*text*/) {}
  // The whole burn's progress, 0-100 (the loader stage is the first 30).
  virtual void OnBurnProgress(std::size_t /*port*/, uint8_t /*percent*/) {}
  // A board's record is on disk; `counts` are the port's after it.
  virtual void OnBoardRecorded(std::size_t /*port*/, const UnitRecord& /*record*/,
                               const PortCounts& /*counts*/) {}
};

}  // namespace tarvok
