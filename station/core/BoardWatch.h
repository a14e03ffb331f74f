// How one port of a station learns that a board is in place and that it has left.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
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
  // What the port waits for, for people ("waiting for DSR").
  virtual std::string WhatArrivalIs() const = 0;
  // Returns once a board is in place; false when the port was stopped first.
  virtual bool WaitForArrival() = 0;
  // What the port waits for after a burn, for people; empty when it waits for nothing.
  virtual std::string WhatLeavingIs() const { return "waiting for the board to leave"; }
  // Returns once the board just burned has been seen to leave; false when stopped first.
  virtual bool WaitForLeave() = 0;
  // With the chip as the signal the burn's own wake-up looks for the board: a boot ROM that
  // never answers then means no board yet, not a failed one.
  virtual bool SilentRomMeansNoBoard() const { return false; }
};

std::unique_ptr<BoardWatch> MakeBoardWatch(const WatchContext& context);

// How long the chip signal waits for a burned board to speak before it says that it cannot
// see the board leave.
inline constexpr uint64_t kNoSignOfLeavingMs = 5000;

}  // namespace tarvok
