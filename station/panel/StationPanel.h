// The station window's logic, free of any toolkit: it runs a station (each port on its own
// thread), turns what the ports report into what each tile, the header and the records list
// show, starts and stops the station or one port, confirms the operator's next board, and
// stops every port before the window closes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "station/config/OpenStation.h"
#include "station/core/OperatorDesk.h"
#include "station/core/Station.h"
#include "station/core/StationSetup.h"
#include "station/panel/StationPanelView.h"
#include "station/panel/StationTile.h"
#include "station/records/BoardLedger.h"
#include "station/records/StationLog.h"
#include "station/records/UnitNumberStore.h"

namespace tarvok {

inline constexpr std::size_t kShownRecords = 50;

class StationPanel : public std::enable_shared_from_this<StationPanel>, private StationObserver {
 public:
  // Milliseconds on a steady clock, read from any thread: the boards per hour are measured on
  // it, over the last boards passed (RollingBoardsPerHour).
  using Clock = std::function<uint64_t()>;
  static uint64_t SteadyMs();

  // Shared ownership: work handed over to the window's thread finds the panel gone, not freed.
  static std::shared_ptr<StationPanel> Create(StationParts parts, StationWorld world,
                                              std::shared_ptr<StationPanelView> view,
                                              Clock clock = SteadyMs);
  ~StationPanel() override;
  StationPanel(const StationPanel&) = delete;
  StationPanel& operator=(const StationPanel&) = delete;

  // On the window's thread.
  void OnOpen();  // shows the header, the tiles and the settings
  void OnStartStation();
  void OnStopStation();
  void OnStartPort(std::size_t port);
  void OnStopPort(std::size_t port);
  void OnNextBoard(std::size_t port);
  void OnTick();  // redraws the header
  // The window asks to close. While boards burn the operator is asked first: false when they
  // keep them burning. Otherwise every port stops at its next byte (a burn under way is
  // recorded as interrupted) and the window may go.
  bool OnCloseRequested();
  // After OnCloseRequested: waits up to `limit` for every port's thread; true once all ended.
  bool AwaitStopped(std::chrono::milliseconds limit);

  std::size_t BoardsBurning() const;
  const Station& RunningStation() const { return *station_; }
  Station& RunningStation() { return *station_; }
  StationTile Tile(std::size_t port) const;

 private:
  StationPanel(StationParts parts, StationWorld world, std::shared_ptr<StationPanelView> view,
               Clock clock);

  // From the ports' threads.
  void OnPortPhase(std::size_t port, PortPhase phase, const PortPhaseReason& reason) override;
  void OnPortNotice(std::size_t port, const PortNotice& notice) override;
  void OnBurnProgress(std::size_t port, uint8_t percent) override;
  void OnBoardRecorded(std::size_t port, const UnitRecord& record,
                       const PortCounts& counts) override;

  // Marks what changed and asks the window's thread for one refresh, whatever the number of
  // changes before it runs: the ports never wait for the window.
  void Changed(std::size_t port, bool records);
  void Refresh();
  void StartPort(std::size_t port);

  StationParts parts_;
  Clock nowMs_;
  std::shared_ptr<StationPanelView> view_;
  OperatorDesk desk_;
  std::vector<std::string> portNames_;

  mutable std::mutex mutex_;  // guards what follows, shared with the ports' threads
  std::vector<TileState> tiles_;
  std::vector<bool> tileChanged_;
  std::deque<std::string> records_;
  bool recordsChanged_ = false;
  bool headerChanged_ = false;
  bool started_ = false;
  uint64_t startMs_ = 0;
  std::deque<uint64_t> passedMs_;  // when the last boards passed, for the boards per hour
  std::atomic<bool> refreshAsked_{false};
  std::mutex refreshMutex_;  // held through a whole refresh

  std::unique_ptr<Station> station_;  // last: its ports stop before the rest goes
};

}  // namespace tarvok
