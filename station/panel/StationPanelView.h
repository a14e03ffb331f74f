// What the station window's logic needs of a window: a header, a tile per port, the records
// list, the settings, a question and a way to run work on the window's own thread. A Qt window
// implements it on Linux, a Win32 window can on Windows, and the tests without any window.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "station/panel/StationTile.h"

namespace tarvok {

struct StationHeader {
  std::string title;   // the station's name
  std::string image;   // "board.bin   262144 bytes   SHA-256 0123456789ab"
  std::string totals;  // "pass 40   fail 2"
  std::string rate;    // "38 boards per hour"
  std::string log;     // "log /srv/line1/tarvok.jsonl"
};

class StationPanelView {
 public:
  virtual ~StationPanelView() = default;
  virtual void ShowHeader(const StationHeader& header) = 0;
  virtual void ShowTile(std::size_t port, const StationTile& tile) = 0;
  // This run's records, newest first.
  virtual void ShowRecords(const std::vector<std::string>& newestFirst) = 0;
  // The station's settings, read-only, one line each.
  virtual void ShowSettings(const std::vector<std::string>& lines) = 0;
  // Whether any port runs: the station's Start and Stop buttons follow it.
  virtual void ShowStationRunning(bool running) = 0;
  // A yes/no question; true for yes. Returns when answered.
  virtual bool Ask(const std::string& question) = 0;
  // Runs `task` on the window's thread later and returns at once; called from any thread. A
  // task handed over after the window has gone may never run.
  virtual void HandOver(std::function<void()> task) = 0;
};

}  // namespace tarvok
