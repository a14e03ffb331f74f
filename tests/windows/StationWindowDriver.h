// Drives the station window as an operator would, for the test under Wine and for the
// screenshot: presses Start all, presses a tile's "Next board" once the port has waited a while
// for the next board of its fixture (the button shows only while the port waits), and once every
// port has burned its boards checks the tiles' words and counts, the header, the records list and
// the log, then stops the first port alone, lets one more board start burning on the second and
// closes the window under it, answering the question with Yes. Optionally pictures the window
// mid-burn.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

class StationFrame;

struct StationWindowDriverOptions {
  std::string log;  // the station's log, UTF-8
  uint64_t boardsPerPort = 3;
  std::string screenshot;  // a .bmp to write mid-burn; empty for none
  uint32_t deadlineMs = 240'000;
  // How long a tile waits before its Next board is pressed: the fixture's next board must have
  // come by then.
  uint32_t nextBoardAfterMs = 1500;
};

class StationWindowDriver {
 public:
  explicit StationWindowDriver(StationWindowDriverOptions options) : options_(std::move(options)) {}
  void Start(StationFrame& frame);
  // After the window has gone: the board burning as it closed must be in the log as
  // interrupted.
  void CheckAfterClose();
  // 0 when every check held.
  int Result() const { return result_; }
  std::string Report() const { return report_; }

 private:
  enum class Phase { kBurning, kStoppingFirst, kOneMoreBoard, kAnsweringClose, kDone };
  void Step();
  void StepStoppingFirst(DWORD now);
  bool StepBurning(DWORD now);
  std::string CheckedAfterBurns() const;
  void Report(const std::string& problems);
  void Finish(const std::string& problems);
  void CloseMidBurn();
  void TakeScreenshot();

  StationWindowDriverOptions options_;
  StationFrame* frame_ = nullptr;
  Phase phase_ = Phase::kBurning;
  DWORD startedMs_ = 0;
  std::vector<DWORD> waitingSince_;  // 0 while not waiting
  bool sawBurning_ = false;
  bool startAllStayedEnabled_ = false;
  bool pictured_ = false;
  uint64_t nextBoardPresses_ = 0;
  DWORD stoppedFirstMs_ = 0;
  bool pressedOneMore_ = false;
  std::string question_;  // asked as the window closed in mid-burn
  std::string report_;
  int result_ = 1;
};

}  // namespace tarvok
