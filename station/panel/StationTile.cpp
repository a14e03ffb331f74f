#include "station/panel/StationTile.h"

namespace tarvok {
namespace {

constexpr const char* kOperatorArrival = "put the next board in, then press Next board";

}  // namespace

TileState::TileState(const StationPortSetup& setup) : signal_(setup.signal.kind) {
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

void TileState::OnPhase(PortPhase phase, const std::string& detail) {
  leaving_ = phase == PortPhase::kWaitingForLeave;
  switch (phase) {
    case PortPhase::kWaitingForBoard:
      burning_ = false;
      tile_.percent = -1;
      tile_.nextBoard = signal_ == BoardSignal::kOperator;
      // The operator's board cannot be seen to leave: its result stays until the next one.
      // A failed board's result stays too, so that its reason is read even when the board
      // left at once (pulled).
      if ((tile_.nextBoard && lastResult_) || (lastResult_ && *lastResult_ != UnitResult::kPass)) {
        ShowResult();
        tile_.detail = (lastResult_ == UnitResult::kPass ? "" : lastMessage_ + "\n") +
                       (tile_.nextBoard ? kOperatorArrival : detail);
        return;
      }
      tile_.words = "WAITING FOR BOARD";
      tile_.tone = TileTone::kWaiting;
      tile_.detail = tile_.nextBoard ? kOperatorArrival : detail;
      return;
    case PortPhase::kBurning:
      burning_ = true;
      tile_.nextBoard = false;
      if (signal_ != BoardSignal::kChip) {
        OnProgress(0);  // the chip signal's wake-ups burn only once a board answers
      }
      return;
    case PortPhase::kWaitingForLeave:
      ShowResult();
      tile_.detail = lastResult_ == UnitResult::kPass || lastMessage_.empty()
                         ? detail
                         : lastMessage_ + "\n" + detail;
      return;
    case PortPhase::kStopped:
      burning_ = false;
      tile_.running = false;
      tile_.nextBoard = false;
      tile_.percent = -1;
      tile_.words = "STOPPED";
      tile_.tone = TileTone::kStopped;
      tile_.detail = detail;
      return;
  }
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

void TileState::OnNotice(const std::string& text) {
  if (signal_ == BoardSignal::kChip && leaving_) {
    // A board whose firmware is silent cannot be heard leaving: the operator says it has.
    tile_.nextBoard = true;
    tile_.detail =
        "no sign of the board leaving (its firmware is silent): press Next board once "
        "it has been taken out";
    return;
  }
  tile_.detail = text;
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
