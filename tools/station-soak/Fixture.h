// One simulated production fixture (tarvok-sim --boards with a port per board) and what it
// was seen to do: when each board arrived and left, and on which pseudo-terminal.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/station-soak/Child.h"
#include "tools/station-soak/SoakPlan.h"

namespace tarvok::stationsoak {

using WallTime = std::chrono::system_clock::time_point;

struct FixtureSetup {
  std::string simPath;
  std::string link;      // the port the station is given
  std::string boardDir;  // board-K.bin and board-K.json
  uint32_t boards = 8;
  uint32_t appMs = 1000;
  uint32_t gapMs = 500;
  bool throttle = false;
  std::vector<std::string> extraArgs;  // such as --rom-baud
  FixtureFaults faults;
};

struct BoardSeen {
  std::string device;  // its pseudo-terminal
  WallTime arrived{};
  WallTime left{};
  bool hasArrived = false;
  bool hasLeft = false;
};

class Fixture {
 public:
  explicit Fixture(const FixtureSetup& setup);

  // Reads what the fixture said; true while it still runs.
  bool Follow();
  // Its exit code once it has ended, with the last of its output read.
  int Finish();
  const FixtureSetup& Setup() const { return setup_; }
  const std::vector<BoardSeen>& Boards() const { return boards_; }  // board K at K - 1
  const std::vector<std::string>& Complaints() const { return complaints_; }
  // The board in place at `when`, counted from 1; 0 when none was.
  uint32_t BoardInPlaceAt(WallTime when) const;
  // The operator takes the board in place out (it leaves as pulled).
  void TakeOutBoard() { child_->Signal(SIGUSR1); }

 private:
  void OnLine(Stream stream, const std::string& line);

  FixtureSetup setup_;
  std::unique_ptr<Child> child_;
  std::vector<BoardSeen> boards_;
  uint32_t devicesAnnounced_ = 0;
  std::vector<std::string> complaints_;  // lines the fixture printed that it should not have
  bool ended_ = false;
  int exitCode_ = -1;
};

}  // namespace tarvok::stationsoak
