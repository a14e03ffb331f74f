#include "station/panel/StationPanel.h"

#include <thread>

#include "station/panel/StationPanelText.h"

namespace tarvok {
namespace {

constexpr auto kStopPoll = std::chrono::milliseconds(10);

}  // namespace

uint64_t StationPanel::SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::shared_ptr<StationPanel> StationPanel::Create(StationParts parts, StationWorld world,
                                                   std::shared_ptr<StationPanelView> view,
                                                   Clock clock) {
  return std::shared_ptr<StationPanel>(
      new StationPanel(std::move(parts), std::move(world), std::move(view), std::move(clock)));
}

StationPanel::StationPanel(StationParts parts, StationWorld world,
                           std::shared_ptr<StationPanelView> view, Clock clock)
    : parts_(std::move(parts)),
      nowMs_(std::move(clock)),
      view_(std::move(view)),
      desk_(parts_.setup.ports.size()) {
  for (const StationPortSetup& port : parts_.setup.ports) {
    portNames_.push_back(port.portName);
    tiles_.emplace_back(port);
  }
  tileChanged_.assign(tiles_.size(), false);
  StationObserver& observer = *this;
  station_ = std::make_unique<Station>(parts_.setup, std::move(world), observer, desk_, *parts_.log,
                                       *parts_.ledger, parts_.units.get());
}

StationPanel::~StationPanel() {
  station_.reset();  // stops and waits for the ports, which still call this panel
}

void StationPanel::OnOpen() {
  view_->ShowSettings(SettingsLines(parts_.setup, parts_.log->Path()));
  {
    const std::lock_guard lock(mutex_);
    tileChanged_.assign(tiles_.size(), true);
    headerChanged_ = true;
    recordsChanged_ = true;
  }
  Refresh();
}

void StationPanel::StartPort(std::size_t port) {
  {
    const std::lock_guard lock(mutex_);
    if (!started_) {
      started_ = true;
      startMs_ = nowMs_();
    }
    if (tiles_[port].Tile().running) {
      return;
    }
    tiles_[port].OnStarted();
    tileChanged_[port] = true;
  }
  if (!station_->StartPort(port)) {
    PortPhaseReason reason;
    reason.stop.kind = PortStopKind::kNoThread;
    OnPortPhase(port, PortPhase::kStopped, reason);
  }
}

void StationPanel::OnStartStation() {
  for (std::size_t port = 0; port < tiles_.size(); ++port) {
    StartPort(port);
  }
  Refresh();
}

void StationPanel::OnStopStation() {
  station_->Stop(PortStop{.kind = PortStopKind::kOperator});
}

void StationPanel::OnStartPort(std::size_t port) {
  StartPort(port);
  Refresh();
}

void StationPanel::OnStopPort(std::size_t port) {
  station_->StopPort(port, PortStop{.kind = PortStopKind::kOperator});
}

void StationPanel::OnNextBoard(std::size_t port) {
  desk_.Confirm(std::to_string(port + 1), portNames_);
}

void StationPanel::OnTick() {
  {
    const std::lock_guard lock(mutex_);
    headerChanged_ = true;
  }
  Refresh();
}

bool StationPanel::OnCloseRequested() {
  if (const std::size_t burning = BoardsBurning(); burning != 0) {
    const std::string question =
        burning == 1 ? "A board is burning. Stop now? It is recorded as interrupted and must be "
                       "burned again."
                     : std::to_string(burning) +
                           " boards are burning. Stop now? Each is recorded as interrupted and "
                           "must be burned again.";
    if (!view_->Ask(question)) {
      return false;
    }
  }
  station_->Stop(PortStop{.kind = PortStopKind::kWindowClosed});
  return true;
}

bool StationPanel::AwaitStopped(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    bool anyRunning = false;
    for (std::size_t port = 0; port < tiles_.size(); ++port) {
      anyRunning = anyRunning || station_->PortRunning(port);
    }
    if (!anyRunning) {
      station_->StopAndWait(
          PortStop{.kind = PortStopKind::kWindowClosed});  // the threads have ended: no wait
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kStopPoll);
  }
}

std::size_t StationPanel::BoardsBurning() const {
  const std::lock_guard lock(mutex_);
  std::size_t burning = 0;
  for (const TileState& tile : tiles_) {
    burning += tile.Tile().tone == TileTone::kBurning ? 1U : 0U;
  }
  return burning;
}

StationTile StationPanel::Tile(std::size_t port) const {
  const std::lock_guard lock(mutex_);
  return tiles_.at(port).Tile();
}

void StationPanel::OnPortPhase(std::size_t port, PortPhase phase, const PortPhaseReason& reason) {
  {
    const std::lock_guard lock(mutex_);
    tiles_[port].OnPhase(phase, reason);
  }
  Changed(port, false);
}

void StationPanel::OnPortNotice(std::size_t port, const PortNotice& notice) {
  {
    const std::lock_guard lock(mutex_);
    tiles_[port].OnNotice(notice);
  }
  Changed(port, false);
}

void StationPanel::OnBurnProgress(std::size_t port, uint8_t percent) {
  {
    const std::lock_guard lock(mutex_);
    tiles_[port].OnProgress(percent);
  }
  Changed(port, false);
}

void StationPanel::OnBoardRecorded(std::size_t port, const UnitRecord& record,
                                   const PortCounts& /*counts*/) {
  {
    const std::lock_guard lock(mutex_);
    tiles_[port].OnRecorded(record);
    if (record.result == UnitResult::kPass) {
      passedMs_.push_back(nowMs_());
      if (passedMs_.size() > kRateBoards + 1) {
        passedMs_.pop_front();
      }
    }
    records_.push_front(RecordLine(record));
    if (records_.size() > kShownRecords) {
      records_.pop_back();
    }
  }
  Changed(port, true);
}

void StationPanel::Changed(std::size_t port, bool records) {
  {
    const std::lock_guard lock(mutex_);
    tileChanged_[port] = true;
    recordsChanged_ = recordsChanged_ || records;
    headerChanged_ = headerChanged_ || records;
  }
  if (!refreshAsked_.exchange(true)) {
    view_->HandOver([weak = weak_from_this()] {
      if (const auto self = weak.lock()) {
        self->Refresh();
      }
    });
  }
}

void StationPanel::Refresh() {
  // One refresh at a time, whatever thread a view runs it on: a view never gets an older
  // state after a newer one.
  const std::lock_guard refreshing(refreshMutex_);
  refreshAsked_ = false;
  std::vector<std::pair<std::size_t, StationTile>> tiles;
  std::vector<std::string> records;
  bool showRecords = false;
  bool showHeader = false;
  bool running = false;
  PortCounts total;
  uint64_t boardsPerHour = 0;
  {
    const std::lock_guard lock(mutex_);
    for (std::size_t port = 0; port < tiles_.size(); ++port) {
      const StationTile& tile = tiles_[port].Tile();
      if (tileChanged_[port]) {
        tiles.emplace_back(port, tile);
        tileChanged_[port] = false;
      }
      running = running || tile.running;
      total += tile.counts;
    }
    showRecords = recordsChanged_;
    if (showRecords) {
      records.assign(records_.begin(), records_.end());
    }
    showHeader = headerChanged_;
    recordsChanged_ = headerChanged_ = false;
    boardsPerHour = RollingBoardsPerHour(passedMs_, startMs_);
  }
  if (showHeader) {
    view_->ShowHeader(HeaderOf(parts_.setup, parts_.log->Path(), total, boardsPerHour));
  }
  for (const auto& [port, tile] : tiles) {
    view_->ShowTile(port, tile);
  }
  if (showRecords) {
    view_->ShowRecords(records);
  }
  view_->ShowStationRunning(running);
}

}  // namespace tarvok
