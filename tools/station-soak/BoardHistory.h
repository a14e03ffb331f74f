// Each board's story put together from three witnesses: the fixture (when it arrived and left,
// its files when it left), the station's log (the attempts, matched to boards by port, device
// and time) and the soak's own kills of the station.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/station-soak/Fixture.h"
#include "tools/station-soak/LogLines.h"

namespace tarvok::stationsoak {

// One run of the station, from its start to its kill or its end.
struct StationRun {
  WallTime start{};
  WallTime end{};
  bool killed = false;
  std::size_t logBytesAtStart = 0;
  std::string out;  // what it printed on standard output (its --json report)
  int exitCode = -1;
  // The ports it began a burn on, each with when the soak saw the burn under way in the
  // station's ledger (its boards in place, beside the log).
  std::vector<std::pair<WallTime, std::string>> burningPorts;
};

// What a board's fixture wrote when it left.
struct BoardFiles {
  bool found = false;
  std::string result;  // burned, failed, pulled, never burned
  uint64_t burnsStarted = 0;
  uint64_t wakeSentencesAfterBurn = 0;
  std::vector<uint8_t> flash;
};

// How a kill of the station found a board in place.
enum class KillCase {
  kNone,         // no killed run of the station had begun on the board
  kAfterItsLog,  // its attempt had been logged: it was burned (or failed) and waited to leave
  kBeforeItsLog  // no attempt logged yet: not started, or its burn cut short by the kill
};

struct BoardStory {
  uint32_t fixture = 0;  // from 0
  uint32_t number = 0;   // from 1
  bool failFault = false;
  bool pullFault = false;
  BoardFiles files;
  std::vector<const LogLine*> lines;  // its attempts in the log, oldest first
  KillCase killCase = KillCase::kNone;
  WallTime killedAt{};    // the first kill of a run that had begun on it
  bool takenOut = false;  // the soak took it out, after a restarted station waited for it
  // Attempts logged after that kill by a restarted station that had not seen it leave.
  uint32_t attemptsAfterKill = 0;
  uint32_t passesAfterKill = 0;
};

struct History {
  std::vector<BoardStory> boards;
  std::vector<const LogLine*> unmatched;  // log lines no board of the fixtures explains
};

BoardFiles ReadBoardFiles(const std::string& boardDir, uint32_t number);

// `takenOut` holds, per fixture, the boards the soak took out.
History BuildHistory(const std::vector<Fixture>& fixtures, const LogReading& log,
                     const std::vector<StationRun>& runs,
                     const std::vector<std::set<uint32_t>>& takenOut);

}  // namespace tarvok::stationsoak
