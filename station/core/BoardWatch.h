// How one port of a station learns that a board is in place and that it has left.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "station/core/OperatorDesk.h"
#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"

namespace tarvok {

struct WatchContext {
  std::size_t port = 0;
  const StationPortSetup* setup = nullptr;
  const BurnLine* line = nullptr;
  StationWorld* world = nullptr;
  StationObserver* observer = nullptr;
  OperatorDesk* desk = nullptr;
  const std::atomic<bool>* stop = nullptr;  // the port's own stop flag
};

class BoardWatch {
 public:
  virtual ~BoardWatch() = default;
  // Returns once a board is in place; false when the port was stopped first.
  virtual bool WaitForArrival() = 0;
  // Whether the port waits for a burned board to leave (the operator's next confirmation
  // says that it has, with the next board's arrival).
  virtual bool WaitsForLeave() const { return true; }
  // Whether a board whose burn ended as `board` (empty: cut by a kill) is let go once the line
  // has been quiet, rather than when it is seen to leave.
  virtual bool LetsGoWhenQuiet(std::optional<UnitResult> /*board*/) const { return false; }
  // Returns once the board whose burn ended as `board` may be taken as gone; false when the
  // port was stopped first. A passed board must be seen to leave.
  virtual bool WaitForLeave(std::optional<UnitResult> board) = 0;
  // With the chip as the signal the burn's own wake-up looks for the board: a boot ROM that
  // never answers then means no board yet, not a failed one.
  virtual bool SilentRomMeansNoBoard() const { return false; }
};

std::unique_ptr<BoardWatch> MakeBoardWatch(const WatchContext& context);

// How long a port waits to see a burned board leave before it tells people what to do (with
// the chip signal: a board that never spoke cannot be heard leaving).
inline constexpr uint64_t kNoSignOfLeavingMs = 5000;

}  // namespace tarvok
