// What a station tells the people watching it, from its ports' threads: typed events, which
// each front end puts in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "station/core/StationSetup.h"
#include "station/records/StationLog.h"

namespace tarvok {

enum class PortPhase {
  kWaitingForBoard,
  kBurning,
  kWaitingForLeave,
  kStopped,  // the port gave up (failures in a row, a fault of its own) or the station stopped
};

// Why a port (or the whole station) stopped.
enum class PortStopKind {
  kNone,           // not stopped (yet)
  kOperator,       // the operator stopped it
  kInterrupted,    // an interrupt (Ctrl-C, a signal) stopped the station
  kWindowClosed,   // the station's window was closed
  kStationClosed,  // the station itself was closed
  kBoardsPassed,   // the station's count of passed boards was made: `count`
  kFailuresInRow,  // `count` boards failed in a row; the last as `lastStatus`, `lastStep`
  kLog,            // the log cannot be written: `problem`
  kLedger,         // the boards in place cannot be kept on disk: `problem`
  kUnitNumbers,    // no unit number for the next board: `problem`
  kNoThread,       // no thread could be made for the port
};

struct PortStop {
  PortStopKind kind = PortStopKind::kNone;
  uint64_t count = 0;
  uint32_t lastStatus = 0;    // kFailuresInRow: the last failed burn's status
  uint32_t lastStep = 0;      // and its failing step's own code
  std::string lastMessage{};  // and its message as the log holds it
  std::string problem{};      // kLog, kLedger, kUnitNumbers: the file and the system's error

  bool operator==(const PortStop&) const = default;
};

// What a port says along with a phase.
struct PortPhaseReason {
  // The signal the port watches for a board's arrival and leaving.
  BoardSignalChoice signal{};
  // kWaitingForLeave: how the burn of the board waited for ended; empty when a kill of the
  // station cut it before it was recorded.
  std::optional<UnitResult> board{};
  // kWaitingForLeave: the board was burned before the station restarted.
  bool fromBeforeRestart = false;
  // kWaitingForLeave: the board did not pass, and the signal cannot tell it from the next one
  // (the chip's own traffic): the port wakes boards again once the line has been quiet, and
  // burns the one that answers, this board too if it is still in place.
  bool burnsAgainWhenQuiet = false;
  PortStop stop{};  // kStopped

  bool operator==(const PortPhaseReason&) const = default;
};

enum class PortNoticeKind {
  kPortMissing,           // the port is not on the machine; the port waits for it
  kPortUnusable,          // the port did not open (busy, gone): `openFailure`, `openReason`
  kCannotWatchLine,       // the port did not open to watch `modemLine`: `openReason`
  kLineStatusUnreported,  // the port does not report its modem lines: `modemLine` unwatched
  kNoSignOfLeaving,       // a burned board's line has been silent `waitedMs`: no leaving heard
  kLineNotQuiet,          // a burned board's line has not been quiet for `waitedMs`
  kLeaveOverdue,          // the port has waited `waitedMs` to see the board leave
  kAdapterLatency,        // the port's USB adapter has a latency timer of `latencyTimerMs`
  kSlowNetwork,  // the network port's round trip of `roundTripMs` costs `costPercent` % of speed
};

// Something the port's people should read now.
struct PortNotice {
  PortNoticeKind kind = PortNoticeKind::kPortMissing;
  uint32_t modemLine = 0;
  std::string openFailure{};  // the engine's words for a port that did not open
  std::string openReason{};   // the system's reason
  uint64_t waitedMs = 0;
  // The port waits on the operator's confirmation (Enter, Next board) that the board has left.
  bool operatorConfirms = false;
  int latencyTimerMs = 0;
  bool latencyLowered = false;  // the timer was set to 1 ms: nothing to do
  uint32_t roundTripMs = 0;
  uint32_t costPercent = 0;
  uint32_t burnRate = 0;
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
  // The port entered `phase`; `reason` says what it waits for or why it stopped.
  virtual void OnPortPhase(std::size_t /*port*/, PortPhase /*phase*/,
                           const PortPhaseReason& /*reason*/) {}
  // Something the port's people should read now, such as a board that shows no sign of leaving.
  virtual void OnPortNotice(std::size_t /*port*/, const PortNotice& /*notice*/) {}
  // The whole burn's progress, 0-100 (the loader stage is the first 30).
  virtual void OnBurnProgress(std::size_t /*port*/, uint8_t /*percent*/) {}
  // A board's record is on disk; `counts` are the port's after it.
  virtual void OnBoardRecorded(std::size_t /*port*/, const UnitRecord& /*record*/,
                               const PortCounts& /*counts*/) {}
};

}  // namespace tarvok
