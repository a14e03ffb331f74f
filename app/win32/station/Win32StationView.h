// The station panel's view on Win32: each call is passed to the window on its own thread, and
// work handed over from the ports' threads is posted to it as a message carrying the task.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "station/panel/StationPanelView.h"

namespace tarvok {

class StationFrame;

class Win32StationView : public StationPanelView {
 public:
  void Attach(StationFrame* frame, HWND window);
  // As the window goes: tasks handed over later are dropped, those already posted freed.
  void Detach();

  void ShowHeader(const StationHeader& header) override;
  void ShowTile(std::size_t port, const StationTile& tile) override;
  void ShowRecords(const std::vector<std::string>& newestFirst) override;
  void ShowSettings(const std::vector<std::string>& lines) override;
  void ShowStationRunning(bool running) override;
  bool Ask(const std::string& question) override;
  void HandOver(std::function<void()> task) override;

  // On the window's thread, for the message HandOver posted.
  static void RunHandedOver(LPARAM lParam);

 private:
  StationFrame* frame_ = nullptr;
  std::atomic<HWND> window_{nullptr};
};

}  // namespace tarvok
