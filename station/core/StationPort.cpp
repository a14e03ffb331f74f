#include "station/core/StationPort.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/BurnEngine.h"
#include "app/ProgressText.h"
#include "app/ReadBackWords.h"
#include "burn/LineOptions.h"

namespace tarvok {
namespace {

constexpr uint32_t kNoPortPauseMs = 1000;
constexpr uint32_t kBudgetPollMs = 100;

std::string MessageOf(const BurnOutcome& outcome) {
  if (!outcome.portOpened && !outcome.openFailure.empty()) {
    return outcome.openFailure + " (" + outcome.openFailureReason + ")";
  }
  return outcome.explanation.empty() ? outcome.summary
                                     : outcome.summary + ": " + outcome.explanation;
}

UnitResult ResultOf(const BurnOutcome& outcome) {
  return outcome.interrupted   ? UnitResult::kInterrupted
         : outcome.Succeeded() ? UnitResult::kPass
                               : UnitResult::kFail;
}

// From the attempt's start to its record, as both are written (to the millisecond), so that
// a record's fields agree with each other; a start a kill cut short counts up to the restarted
// station's record. Without a start, the burn's own run time (from the port's opening to its
// close). Never below 0, should the clock be set back in between.
double TotalSeconds(const std::string& started, const std::string& time, double runSeconds) {
  const auto from = ParseUtcTimestamp(started);
  const auto to = ParseUtcTimestamp(time);
  if (!from || !to) {
    return runSeconds;
  }
  return std::max(0.0, std::chrono::duration<double>(*to - *from).count());
}

}  // namespace

struct StationPort::Attempt {
  std::string device;
  std::string identity;  // of the device, as the burn began; empty when it cannot be told
  // When the burn of a board known to be in place began, or (with the chip signal) when its
  // boot ROM answered.
  std::string started;
  BurnOutcome outcome;
  bool reachedChip = false;  // the boot ROM answered: a board was there
  bool hasUnit = false;
  uint64_t unit = 0;
  std::string unitProblem;
};

// Follows one burn: its progress for people, and the board's unit number, taken (and saved)
// only once the boot ROM has answered and written into the burn's own copy of the image
// before the image stage reads it.
class StationPort::AttemptSink : public BurnProgressSink {
 public:
  AttemptSink(StationPort& port, Attempt& attempt, uint8_t* imageCopy)
      : port_(port), attempt_(attempt), imageCopy_(imageCopy) {}

  void OnStageStart(BurnStage stage) override {
    if (stage != BurnStage::kLoader) {
      return;
    }
    attempt_.reachedChip = true;
    if (attempt_.started.empty()) {
      attempt_.started = UtcTimestampNow();
    }
    UnitNumberStore* units = port_.shared_.units;
    if (units != nullptr && imageCopy_ != nullptr) {
      uint64_t number = 0;
      if (!units->Take(number, attempt_.unitProblem)) {
        PortStop stop;
        stop.kind = PortStopKind::kUnitNumbers;
        stop.problem = attempt_.unitProblem;
        port_.shared_.stopStation(stop);
        return;
      }
      WriteUnitNumber(*port_.shared_.setup->units, number, imageCopy_);
      attempt_.hasUnit = true;
      attempt_.unit = number;
    }
    // On disk before anything is burned: a station killed from here on finds the board in
    // its ledger when it starts again.
    const BoardInPlace board{std::nullopt,     attempt_.started, attempt_.device,
                             attempt_.hasUnit, attempt_.unit,    attempt_.identity};
    std::string problem;
    if (!port_.shared_.ledger->Set(port_.setup_.portName, board, problem)) {
      port_.NoteLedgerProblem(problem);
    }
    // Said once the ledger holds the board, so that whoever sees a port burning knows a
    // restarted station will not take that board for a new one.
    port_.EnterPhase(PortPhase::kBurning);
  }
  void OnStageProgress(BurnStage stage, uint8_t percent, uint32_t, uint32_t) override {
    const uint8_t whole =
        stage == BurnStage::kLoader ? LoaderStagePercent(percent) : ImageStagePercent(percent);
    if (whole != shown_) {
      shown_ = whole;
      port_.shared_.observer->OnBurnProgress(port_.index_, whole);
    }
  }

 private:
  StationPort& port_;
  Attempt& attempt_;
  uint8_t* imageCopy_;
  uint8_t shown_ = 0;
};

StationPort::StationPort(std::size_t index, const StationShared& shared)
    : index_(index), shared_(shared), setup_(shared.setup->ports.at(index)) {
  WatchContext context;
  context.port = index;
  context.setup = &setup_;
  context.line = &shared.setup->line;
  context.world = shared.world;
  context.observer = shared.observer;
  context.desk = shared.desk;
  context.stop = &stop_;
  watch_ = MakeBoardWatch(context);
}

void StationPort::Stop(const PortStop& reason) {
  {
    const std::lock_guard lock(mutex_);
    if (stopReason_.kind == PortStopKind::kNone) {
      stopReason_ = reason;
    }
  }
  stop_ = true;
}

PortCounts StationPort::Counts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

PortStop StationPort::StopReason() const {
  const std::lock_guard lock(mutex_);
  return stopReason_;
}

void StationPort::EnterPhase(PortPhase phase, const PortPhaseReason& reason) {
  PortPhaseReason full = reason;
  full.signal = setup_.signal;
  // The chip signal's wake-ups go round waiting and burning without a board: said once.
  if (shownAny_ && phase == shownPhase_ && full == shownReason_) {
    return;
  }
  shownAny_ = true;
  shownPhase_ = phase;
  shownReason_ = full;
  shared_.observer->OnPortPhase(index_, phase, full);
}

StationPort::Attempt StationPort::BurnBoard(const std::string& device) {
  Attempt attempt;
  attempt.device = device;
  attempt.identity = DeviceIdentity(device);
  const StationSetup& setup = *shared_.setup;
  if (!watch_->SilentRomMeansNoBoard()) {
    // The board is known to be in place: on disk before the first byte goes to it.
    attempt.started = UtcTimestampNow();
    std::string problem;
    if (!shared_.ledger->Set(setup_.portName,
                             {std::nullopt, attempt.started, device, false, 0, attempt.identity},
                             problem)) {
      NoteLedgerProblem(problem);
      attempt.outcome.interrupted = true;
      return attempt;
    }
    EnterPhase(PortPhase::kBurning);
  }
  BurnRequest request;
  request.portName = setup_.portName;
  request.devicePath = device;
  request.line = setup.line;
  request.image = setup.image;
  request.loader = setup.loader;
  request.bootStage = setup.bootStage;
  request.classic = setup.classic;
  request.echoRepeats = setup.echoRepeats;
  request.stop = StopToken(stop_);
  // With unit numbers each board gets its own copy of the image; the shared one stays as read.
  std::shared_ptr<uint8_t[]> copy;
  if (shared_.units != nullptr) {
    copy.reset(new uint8_t[setup.image->size]);
    std::memcpy(copy.get(), setup.image->data.get(), setup.image->size);
    auto own = std::make_shared<FlashImage>(*setup.image);
    own->data = copy;
    request.image = std::move(own);
  }
  AttemptSink sink(*this, attempt, copy.get());
  attempt.outcome = Burn(request, sink, shared_.world->open);
  TellSlowNetwork(attempt.outcome);
  return attempt;
}

UnitRecord StationPort::RecordOf(const Attempt& attempt) const {
  const StationSetup& setup = *shared_.setup;
  const BurnOutcome& outcome = attempt.outcome;
  UnitRecord record;
  record.time = UtcTimestampNow();
  record.started = attempt.started;
  record.station = setup.name;
  record.port = setup_.portName;
  record.device = attempt.device;
  if (shared_.world->adapterSerial) {
    record.adapterSerial = shared_.world->adapterSerial(attempt.device);
  }
  record.imagePath = setup.imagePath;
  record.imageSize = setup.image->size;
  record.imageSha256 = setup.imageSha256;
  record.loaderSha256 = setup.loaderSha256;
  record.romRate = setup.line.romRate;
  record.burnRate = setup.line.burnRate;
  record.dataBits = WordOf(kDataBitsOptions, setup.line.dataBits);
  record.parity = WordOf(kParityOptions, setup.line.parity);
  record.stopBits = WordOf(kStopBitsOptions, setup.line.stopBits);
  record.result = ResultOf(outcome);
  // An interrupted attempt failed no step of its own, whether Ctrl-C cut it (the protocol
  // then fails where it stood) or a kill (found on restart, with nothing to tell): its status
  // and step result are 0, and its result alone says that it was cut.
  const bool interrupted = record.result == UnitResult::kInterrupted;
  record.status = interrupted ? 0 : outcome.status;
  record.stepResult = interrupted ? 0 : outcome.stepResult;
  record.message = attempt.unitProblem.empty()
                       ? MessageOf(outcome)
                       : "no unit number: " + attempt.unitProblem + "; " + MessageOf(outcome);
  record.loaderSeconds = outcome.loaderStageSeconds;
  record.imageSeconds = outcome.imageStageSeconds;
  record.totalSeconds = TotalSeconds(attempt.started, record.time, outcome.totalSeconds);
  record.sequence = ++*shared_.sequence;
  record.hasUnit = attempt.hasUnit;
  record.unit = attempt.unit;
  record.portWentAway = outcome.portWentAway;
  record.readBack = outcome.readBack;
  record.flashCrc = FlashCrcOf(outcome);
  return record;
}

bool StationPort::Record(const Attempt& attempt) {
  const BurnOutcome& outcome = attempt.outcome;
  const UnitRecord record = RecordOf(attempt);
  std::string problem;
  const bool written = shared_.log->Append(UnitRecordLine(record), problem);
  PortCounts counts;
  {
    const std::lock_guard lock(mutex_);
    uint64_t& count = outcome.interrupted   ? counts_.interrupted
                      : outcome.Succeeded() ? counts_.passed
                                            : counts_.failed;
    ++count;
    counts = counts_;
  }
  if (!written) {
    PortStop stop;
    stop.kind = PortStopKind::kLog;
    stop.problem = problem;
    shared_.stopStation(stop);
    return false;
  }
  shared_.observer->OnBoardRecorded(index_, record, counts);
  if (!attempt.started.empty()) {
    const BoardInPlace board{record.result,   attempt.started, attempt.device,
                             attempt.hasUnit, attempt.unit,    attempt.identity};
    if (!shared_.ledger->Set(setup_.portName, board, problem)) {
      NoteLedgerProblem(problem);
      return false;
    }
  }
  return true;
}

std::string StationPort::DeviceIdentity(const std::string& device) const {
  return shared_.world->deviceIdentity ? shared_.world->deviceIdentity(device) : "";
}

// A board pulled during its burn may fail it only after the next one has been put in its
// place (a read waits out its time-out first): its port is there again by then, and waiting
// for the pulled board to leave would wait for the next one instead, which nobody burns.
bool StationPort::BoardLeftDuringBurn(const Attempt& attempt) const {
  if (setup_.signal.kind != BoardSignal::kPort) {
    return false;  // the port stays with the fixture: it going says nothing of the board
  }
  if (attempt.outcome.portWentAway) {
    return true;
  }
  std::string device;
  if (!shared_.world->findPort(setup_.portName, device)) {
    return true;
  }
  const std::string identity = DeviceIdentity(device);
  return !attempt.identity.empty() && !identity.empty() && identity != attempt.identity;
}

bool StationPort::AwaitTurnInBudget() {
  // While other ports' burns could still make up the count, this board waits: one of them
  // may fail.
  while (!shared_.budget->TryBegin()) {
    if (Stopping() || shared_.budget->GoalReached()) {
      return false;
    }
    shared_.world->sleep(kBudgetPollMs);
  }
  return true;
}

void StationPort::NoteLedgerProblem(const std::string& problem) {
  PortStop stop;
  stop.kind = PortStopKind::kLedger;
  stop.problem = problem;
  shared_.stopStation(stop);
}

bool StationPort::AwaitBoardLeftBeforeRestart() {
  const std::optional<BoardInPlace> board = shared_.ledger->Find(setup_.portName);
  if (!board) {
    return true;
  }
  if (!board->result && !LogHoldsAttempt(shared_.log->Path(), setup_.portName, board->started)) {
    Attempt attempt;
    attempt.device = board->device;
    attempt.started = board->started;
    attempt.reachedChip = true;
    attempt.hasUnit = board->hasUnit;
    attempt.unit = board->unit;
    attempt.outcome.portOpened = true;
    attempt.outcome.interrupted = true;
    attempt.outcome.summary = "the station stopped during this burn";
    attempt.outcome.explanation =
        "it was killed or lost power; the board may be half burned: burn it again once it has "
        "been taken out and put back";
    if (!Record(attempt)) {
      return false;
    }
  }
  Attempt burned;  // as much of it as the ledger kept
  burned.identity = board->identity;
  if (BoardLeftDuringBurn(burned)) {
    // It left while no station watched (the restart took longer than the change of boards).
    return ForgetBoard();
  }
  return AwaitLeave(board->result, true);
}

bool StationPort::AwaitLeave(std::optional<UnitResult> board, bool fromBeforeRestart) {
  if (watch_->WaitsForLeave()) {
    PortPhaseReason reason;
    reason.board = board;
    reason.fromBeforeRestart = fromBeforeRestart;
    reason.burnsAgainWhenQuiet = watch_->LetsGoWhenQuiet(board);
    EnterPhase(PortPhase::kWaitingForLeave, reason);
  }
  return watch_->WaitForLeave(board) && ForgetBoard();
}

bool StationPort::ForgetBoard() {
  std::string problem;
  if (!shared_.ledger->Clear(setup_.portName, problem)) {
    NoteLedgerProblem(problem);
    return false;
  }
  return true;
}

bool StationPort::FindDevice(std::string& device) {
  if (shared_.world->findPort(setup_.portName, device)) {
    portMissingTold_ = false;
    return true;
  }
  if (!portMissingTold_) {
    PortNotice notice;
    notice.kind = PortNoticeKind::kPortMissing;
    shared_.observer->OnPortNotice(index_, notice);
    portMissingTold_ = true;
  }
  return false;
}

void StationPort::TellAdapterLatency(const std::string& device) {
  if (!shared_.world->adapterLatency) {
    return;
  }
  if (const std::optional<AdapterLatency> latency =
          shared_.world->adapterLatency(setup_.portName, device)) {
    PortNotice notice;
    notice.kind = PortNoticeKind::kAdapterLatency;
    notice.latencyTimerMs = latency->timerMs;
    notice.latencyLowered = latency->lowered;
    shared_.observer->OnPortNotice(index_, notice);
  }
}

void StationPort::TellSlowNetwork(const BurnOutcome& outcome) {
  const BurnLine& line = shared_.setup->line;
  const uint32_t burnRate = line.burnRate != 0 ? line.burnRate : line.romRate;
  const uint32_t cost = RoundTripCostPercent(outcome.networkRoundTripMs, burnRate);
  if (slowNetworkTold_ || cost < kSlowRoundTripPercent) {
    return;
  }
  slowNetworkTold_ = true;
  PortNotice notice;
  notice.kind = PortNoticeKind::kSlowNetwork;
  notice.roundTripMs = outcome.networkRoundTripMs;
  notice.costPercent = cost;
  notice.burnRate = burnRate;
  shared_.observer->OnPortNotice(index_, notice);
}

bool StationPort::PortDidNotOpen(const Attempt& attempt) {
  // Busy (another program holds it) or gone: no board was spoken to, so none failed.
  shared_.budget->End(false);
  std::string problem;
  if (!attempt.started.empty() && !shared_.ledger->Clear(setup_.portName, problem)) {
    NoteLedgerProblem(problem);
    return false;
  }
  const BurnOutcome& outcome = attempt.outcome;
  if (const std::string why = MessageOf(outcome); why != openFailureTold_) {
    PortNotice notice;
    notice.kind = PortNoticeKind::kPortUnusable;
    notice.openFailure = outcome.openFailure.empty() ? outcome.summary : outcome.openFailure;
    notice.openReason =
        outcome.openFailure.empty() ? outcome.explanation : outcome.openFailureReason;
    shared_.observer->OnPortNotice(index_, notice);
    openFailureTold_ = why;
  }
  shared_.world->sleep(kNoPortPauseMs);
  return true;
}

bool StationPort::TooManyFailures(const BurnOutcome& outcome, PortStop& stop) {
  failuresInRow_ = outcome.Succeeded() ? 0 : failuresInRow_ + 1;
  if (shared_.setup->failuresToStopPort == 0 ||
      failuresInRow_ < shared_.setup->failuresToStopPort) {
    return false;
  }
  stop.kind = PortStopKind::kFailuresInRow;
  stop.count = failuresInRow_;
  stop.lastStatus = outcome.status;
  stop.lastStep = outcome.stepResult;
  stop.lastMessage = MessageOf(outcome);
  return true;
}

bool StationPort::Turn(PortStop& stop) {
  EnterPhase(PortPhase::kWaitingForBoard);
  if (!watch_->WaitForArrival() || !AwaitTurnInBudget()) {
    return false;
  }
  std::string device;
  if (!FindDevice(device)) {
    shared_.budget->End(false);
    shared_.world->sleep(kNoPortPauseMs);
    return true;
  }
  TellAdapterLatency(device);
  const Attempt attempt = BurnBoard(device);
  const BurnOutcome& outcome = attempt.outcome;
  if (!outcome.portOpened && !outcome.interrupted) {
    return PortDidNotOpen(attempt);
  }
  openFailureTold_.clear();
  if (watch_->SilentRomMeansNoBoard() && !attempt.reachedChip) {
    // Nobody answered the wake-up: no board yet, nothing to record.
    shared_.budget->End(false);
    return true;
  }
  const bool recorded = Record(attempt);
  shared_.budget->End(outcome.Succeeded());
  if (!recorded || outcome.interrupted || TooManyFailures(outcome, stop)) {
    return false;
  }
  if (BoardLeftDuringBurn(attempt)) {
    return ForgetBoard();
  }
  return AwaitLeave(ResultOf(outcome), false);
}

void StationPort::Run() {
  PortStop stop;
  if (AwaitBoardLeftBeforeRestart()) {
    while (!Stopping() && Turn(stop)) {
    }
  }
  if (stop.kind == PortStopKind::kNone && shared_.budget->GoalReached()) {
    stop.kind = PortStopKind::kBoardsPassed;
    stop.count = shared_.setup->boardsToPass;
  }
  PortPhaseReason reason;
  {
    const std::lock_guard lock(mutex_);
    if (stopReason_.kind == PortStopKind::kNone) {
      stopReason_ = stop;
    }
    reason.stop = stopReason_;
  }
  EnterPhase(PortPhase::kStopped, reason);
}

}  // namespace tarvok
