// The soak's checks over the boards' stories and the log, and the table it prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/station-soak/BoardHistory.h"

namespace tarvok::stationsoak {

struct UnitSeriesPlan {
  uint64_t offset = 0x100;  // little-endian 32-bit field in the image
  uint64_t first = 1000;
  uint64_t step = 1;
  uint64_t next = 0;  // from the state file at the end; 0 when it could not be read
};

struct SoakFigures {
  uint64_t boards = 0;
  uint64_t boardsReported = 0;   // board-K.json written
  uint64_t burnedOnce = 0;       // the fixture says burned, one burn, no wake-up after it
  uint64_t burnedTwice = 0;      // two attempts that reached a board's boot ROM, or two passes
  uint64_t failedBoards = 0;     // failed or pulled, as the fixture says
  uint64_t failedByFault = 0;    // of them, those planned to fail or be pulled
  uint64_t failedByKill = 0;     // of them, those whose burn a kill cut short
  uint64_t failedUnplanned = 0;  // of them, those with neither
  uint64_t kills = 0;
  uint64_t runs = 0;
  uint64_t killsAmidBurn = 0;          // board-kill meetings with no attempt logged yet
  uint64_t killsAfterLog = 0;          // board-kill meetings after the board's attempt was logged
  uint64_t reburnsOfLoggedBoards = 0;  // boards attempted again after such a kill
  uint64_t reburnsOfCutBoards = 0;     // boards attempted again after a kill amid their burn
  uint64_t reburnsOfCutBoardsPassed = 0;
  uint64_t wakeSentencesAfterBurn = 0;  // boards that heard a wake-up once burned
  uint64_t logLines = 0;
  uint64_t passLines = 0;
  uint64_t failLines = 0;
  uint64_t interruptedLines = 0;
  uint64_t tornLines = 0;
  uint64_t unmatchedLines = 0;
  uint64_t unitsDuplicated = 0;
  uint64_t unitsIssued = 0;
  uint64_t unitsUnlogged = 0;  // issued to an attempt a kill cut before it was logged
  uint64_t burnedUnlogged = 0;
  uint64_t flashMismatches = 0;
  uint64_t takenOut = 0;  // boards the soak took out after a restarted station waited for them
};

struct Verdict {
  SoakFigures figures;
  std::vector<std::string> problems;  // each a failed check, for people
  std::vector<std::string> notes;     // what is reported without failing the soak
};

struct VerdictInputs {
  const History* history = nullptr;
  const LogReading* log = nullptr;
  const std::vector<StationRun>* runs = nullptr;
  const std::vector<uint8_t>* image = nullptr;
  UnitSeriesPlan units;
  bool strictRestart = false;  // attempts after a kill without a leave count as problems
};

Verdict Judge(const VerdictInputs& inputs);

void PrintTable(const Verdict& verdict, bool listProblems);

}  // namespace tarvok::stationsoak
