// A production fixture that sees a series of boards in turn: each arrives with its flash
// blank (or holding an older image), waits for its burn, runs its application, leaves, and
// after a gap the next one arrives. The line is one pseudo-terminal for the whole series, or
// with a port per board a new one for each board, named by the link only while the board is
// in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "sim/PtyChip.h"

namespace tarvok::sim {

struct BoardSeriesOptions {
  PtyChipOptions board;  // every board's chip and line; its plan's number is set per board
  uint32_t boards = 1;
  uint32_t gapMs = 2000;       // from one board's leaving to the next one's arrival
  std::set<uint32_t> failing;  // their loader answers the first image block with a flash error
  std::set<uint32_t> pulled;   // they leave at half their image
  std::set<uint32_t> stuck;    // they never leave
  bool portPerBoard = false;
  std::string link;      // the stable name of the line (required with a port per board)
  std::string boardDir;  // where each board's flash and record go as it leaves
};

// Runs the series until the last board has left or `stop` is set (a board in place then
// reports as it is). Setting `takeOut` takes the board in place out, as an operator would;
// set while no board is in place, it is forgotten. Announces each pseudo-terminal on standard
// output and each board's arrival and leaving on standard error. The exit status: 0, or 1
// when no pseudo-terminal could be made or a board's files could not be written.
int RunBoardSeries(const BoardSeriesOptions& options, const std::atomic<bool>& stop,
                   std::atomic<bool>* takeOut = nullptr);

}  // namespace tarvok::sim
