// The station logic's window on Qt. The logic may outlive the window for a moment while its
// ports stop; the view then shows nothing.
#pragma once

#include <QPointer>

#include "app/qt/station/StationWindow.h"
#include "station/panel/StationPanelView.h"

namespace tarvok {

class QtStationView : public StationPanelView {
 public:
  void Attach(StationWindow* window) { window_ = window; }

  void ShowHeader(const StationHeader& header) override;
  void ShowTile(std::size_t port, const StationTile& tile) override;
  void ShowRecords(const std::vector<std::string>& newestFirst) override;
  void ShowSettings(const std::vector<std::string>& lines) override;
  void ShowStationRunning(bool running) override;
  bool Ask(const std::string& question) override;
  // Queued on the application's thread; never waits, so a port never waits for the window.
  void HandOver(std::function<void()> task) override;

 private:
  QPointer<StationWindow> window_;
};

}  // namespace tarvok
