// One port of a station: wait for a board, burn it, record it, wait for it to leave, again,
// until the station stops or the port gives up after too many failed boards in a row.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "station/core/BoardBudget.h"
#include "station/core/BoardWatch.h"
#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"
#include "station/records/BoardLedger.h"
#include "station/records/StationLog.h"
#include "station/records/UnitNumberStore.h"

namespace tarvok {

// What every port of one station shares.
struct StationShared {
  const StationSetup* setup = nullptr;
  StationWorld* world = nullptr;
  StationObserver* observer = nullptr;
  OperatorDesk* desk = nullptr;
  StationLog* log = nullptr;
  UnitNumberStore* units = nullptr;  // null without unit numbers
  BoardLedger* ledger = nullptr;
  BoardBudget* budget = nullptr;
  std::atomic<uint64_t>* sequence = nullptr;  // the log's last attempt number
  // Stops the whole station, for a fault no port can go on after (the log, the numbers).
  std::function<void(const PortStop& reason)> stopStation;
};

class StationPort {
 public:
  StationPort(std::size_t index, const StationShared& shared);
  StationPort(const StationPort&) = delete;
  StationPort& operator=(const StationPort&) = delete;

  // The port's loop; returns once it has stopped.
  void Run();
  // From any thread: the port stops at its next byte, a burn under way is recorded as
  // interrupted. `reason` is the port's stop reason unless it already has one.
  void Stop(const PortStop& reason);

  PortCounts Counts() const;
  PortStop StopReason() const;

 private:
  struct Attempt;
  class AttemptSink;

  Attempt BurnBoard(const std::string& device);
  // The attempt's record, numbered next in the station's sequence.
  UnitRecord RecordOf(const Attempt& attempt) const;
  bool Record(const Attempt& attempt);
  // Under the port signal: whether the board left with the burn (its port went away, or the
  // port's name now leads to another device), so that there is nothing to wait for.
  bool BoardLeftDuringBurn(const Attempt& attempt) const;
  std::string DeviceIdentity(const std::string& device) const;
  // A board this port burned before the station restarted, and never saw leave: its attempt
  // is recorded (as interrupted) if it never was, and the port waits for it to leave, unless
  // (under the port signal) its port has gone or names another device since.
  bool AwaitBoardLeftBeforeRestart();
  // One board's turn: waits for it, burns it, records it and waits for it to leave. False once
  // the port ends, with `stop` set when it gave up on its own.
  bool Turn(PortStop& stop);
  // The port's device, or false (told once) while the port is not on the machine.
  bool FindDevice(std::string& device);
  void TellAdapterLatency(const std::string& device);
  // Once per run: the port's network round trip costs the burns speed.
  void TellSlowNetwork(const BurnOutcome& outcome);
  // A port that did not open: no board was spoken to. False when the port must end.
  bool PortDidNotOpen(const Attempt& attempt);
  // Counts a recorded board's outcome; true (with `stop`) once too many failed in a row.
  bool TooManyFailures(const BurnOutcome& outcome, PortStop& stop);
  // Waits for the board whose burn ended as `board` to leave, then takes it off the ledger.
  bool AwaitLeave(std::optional<UnitResult> board, bool fromBeforeRestart);
  void NoteLedgerProblem(const std::string& problem);
  // Takes the port's board off the ledger once it has left; false (the station stopped) when
  // the ledger cannot be saved.
  bool ForgetBoard();
  // Claims a burn from the station's count; false once the count is made or the port stops.
  bool AwaitTurnInBudget();
  void EnterPhase(PortPhase phase, const PortPhaseReason& reason = {});
  bool Stopping() const { return stop_.load(std::memory_order_relaxed); }

  const std::size_t index_;
  const StationShared shared_;
  const StationPortSetup& setup_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<BoardWatch> watch_;
  uint32_t failuresInRow_ = 0;
  bool shownAny_ = false;
  PortPhase shownPhase_ = PortPhase::kStopped;
  PortPhaseReason shownReason_;
  bool portMissingTold_ = false;
  bool slowNetworkTold_ = false;
  std::string openFailureTold_;
  mutable std::mutex mutex_;
  PortCounts counts_;
  PortStop stopReason_;
};

}  // namespace tarvok
