#include "station/panel/StationTile.h"

#include "station/panel/StationPanelText.h"

namespace tarvok {

TileState::TileState(const StationPortSetup& setup) : setup_(setup), signal_(setup.signal.kind) {
  tile_.port = setup.portName;
  tile_.words = "STOPPED";
  tile_.detail = "not started";
  tile_.nextBoard = false;
  SetCounts();
}

void TileState::OnStarted() {
  tile_.running = true;
  tile_.detail = "starting";
}

void TileState::OnPhase(PortPhase phase, const PortPhaseReason& reason) {
  switch (phase) {
    case PortPhase::kWaitingForBoard:
      ShowWaitingForBoard();
      return;
    case PortPhase::kBurning:
      burning_ = true;
      tile_.nextBoard = false;
      if (signal_ != BoardSignal::kChip) {
        OnProgress(0);  // the chip signal's wake-ups burn only once a board answers
      }
      return;
    case PortPhase::kWaitingForLeave:
      ShowWaitingForLeave(reason);
      return;
    case PortPhase::kStopped:
      burning_ = false;
      tile_.running = false;
      tile_.nextBoard = false;
      tile_.percent = -1;
      tile_.words = "STOPPED";
      tile_.tone = TileTone::kStopped;
      tile_.detail = StopText(reason.stop);
      return;
  }
}

void TileState::ShowWaitingForBoard() {
  burning_ = false;
  tile_.percent = -1;
  // Only the operator's board is confirmed on this port: the button does something then.
  tile_.nextBoard = signal_ == BoardSignal::kOperator;
  const std::string arrival = ArrivalText(setup_);
  // The operator's board cannot be seen to leave: its result stays until the next one. A
  // failed board's result stays too, so that its reason is read even when the board left at
  // once (pulled).
  if ((tile_.nextBoard && lastResult_) || (lastResult_ && *lastResult_ != UnitResult::kPass)) {
    ShowResult();
    tile_.detail = (lastResult_ == UnitResult::kPass ? "" : lastMessage_ + "\n") + arrival;
    return;
  }
  tile_.words = "WAITING FOR BOARD";
  tile_.tone = TileTone::kWaiting;
  tile_.detail = arrival;
}

void TileState::ShowWaitingForLeave(const PortPhaseReason& reason) {
  tile_.nextBoard = false;
  if (reason.fromBeforeRestart) {
    // A board from before the port started: as its ledger holds it, a passed one green.
    lastResult_ = reason.board.value_or(UnitResult::kInterrupted);
    if (lastResult_ == UnitResult::kPass) {
      lastMessage_.clear();
    }
  }
  ShowResult();
  const std::string leave = LeaveText(reason);
  tile_.detail = lastResult_ == UnitResult::kPass || lastMessage_.empty()
                     ? leave
                     : lastMessage_ + "\n" + leave;
}

void TileState::OnProgress(uint8_t percent) {
  if (!burning_) {
    return;
  }
  tile_.words = "BURNING " + std::to_string(percent) + " %";
  tile_.tone = TileTone::kBurning;
  tile_.percent = percent;
  tile_.detail.clear();
}

void TileState::OnRecorded(const UnitRecord& record) {
  burning_ = false;
  lastResult_ = record.result;
  lastMessage_ = record.message;
  uint64_t& count = record.result == UnitResult::kPass   ? tile_.counts.passed
                    : record.result == UnitResult::kFail ? tile_.counts.failed
                                                         : tile_.counts.interrupted;
  ++count;
  SetCounts();
  if (record.hasUnit) {
    tile_.unit = "last unit " + std::to_string(record.unit);
  }
  ShowResult();
  tile_.detail = record.result == UnitResult::kPass ? "" : record.message;
}

void TileState::OnNotice(const PortNotice& notice) {
  // Each notice in its own words; Next board only where the port waits for it.
  tile_.nextBoard = tile_.nextBoard || notice.operatorConfirms;
  tile_.detail = NoticeText(setup_, notice);
}

void TileState::ShowResult() {
  tile_.percent = -1;
  if (lastResult_ == UnitResult::kPass) {
    tile_.words = "PASS";
    tile_.tone = TileTone::kPass;
  } else {
    tile_.words = lastResult_ == UnitResult::kFail ? "FAIL" : "INTERRUPTED";
    tile_.tone = TileTone::kFail;
  }
}

void TileState::SetCounts() {
  tile_.countsText = "pass " + std::to_string(tile_.counts.passed) + "   fail " +
                     std::to_string(tile_.counts.failed) +
                     (tile_.counts.interrupted == 0
                          ? ""
                          : "   interrupted " + std::to_string(tile_.counts.interrupted));
}

}  // namespace tarvok
