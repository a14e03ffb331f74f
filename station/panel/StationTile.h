// What one port's tile shows, kept up from the station's calls: the state in large words that
// do not rely on colour, a tone for the colour, the last unit number, the counts and the bar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"

namespace tarvok {

// The tile's colour; the words say the same without it.
enum class TileTone { kIdle, kWaiting, kBurning, kPass, kFail, kStopped };

struct StationTile {
  std::string port;   // the port's name
  std::string words;  // "WAITING FOR BOARD", "BURNING 47 %", "PASS", "FAIL", "STOPPED"
  TileTone tone = TileTone::kIdle;
  std::string detail;      // what the port waits for, why the board failed, why the port stopped
  std::string unit;        // "last unit 1234" for the last board with a number, or empty
  PortCounts counts;       // this window's, over every start of the port
  std::string countsText;  // "pass 12   fail 1"
  int percent = -1;        // the bar while burning; -1 hides it
  bool running = false;    // the port's loop runs: its button stops it
  bool nextBoard = false;  // the port waits for the operator's confirmation
};

// Follows one port through the station's calls.
class TileState {
 public:
  TileState(const StationPortSetup& setup);

  void OnPhase(PortPhase phase, const PortPhaseReason& reason);
  void OnProgress(uint8_t percent);
  void OnRecorded(const UnitRecord& record);
  void OnNotice(const PortNotice& notice);
  void OnStarted();

  const StationTile& Tile() const { return tile_; }

 private:
  void ShowWaitingForBoard();
  void ShowWaitingForLeave(const PortPhaseReason& reason);
  void ShowResult();
  void SetCounts();

  const StationPortSetup setup_;
  const BoardSignal signal_;
  StationTile tile_;
  bool burning_ = false;
  std::optional<UnitResult> lastResult_;  // empty before the first board
  std::string lastMessage_;
};

}  // namespace tarvok
