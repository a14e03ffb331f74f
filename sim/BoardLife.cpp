#include "sim/BoardLife.h"

namespace tarvok::sim {

BoardLife::BoardLife(const BoardPlan& plan, int64_t arrivedUs)
    : plan_(plan), arrivedUs_(arrivedUs) {}

// With the C++ model, half of the bytes its parameters announced; the emulated CPU tells
// only its blocks, so there the first accepted block.
bool BoardLife::HalfImageAccepted(const Chip& chip) {
  const RamProgram* loader = chip.RunningLoader();
  if (loader == nullptr) {
    return false;
  }
  const AcceptedStream* accepted = loader->Accepted();
  if (accepted == nullptr) {
    return loader->Stats().blocksAccepted > 0;
  }
  if (!accepted->headerSeen || accepted->endAddress < accepted->startAddress) {
    return false;
  }
  const uint64_t announced = uint64_t{accepted->endAddress} - accepted->startAddress + 1;
  return accepted->image.size() * 2 >= announced;
}

void BoardLife::Follow(const Chip& chip, int64_t nowUs) {
  switch (phase_) {
    case Phase::kInPlace: {
      const RamProgram* loader = chip.RunningLoader();
      const LoaderStats stats = loader != nullptr ? loader->Stats() : LoaderStats{};
      const bool burning = lastHostByteUs_ >= 0 && chip.CurrentMode() != Chip::Mode::kApplication;
      const bool hostQuiet = nowUs - lastHostByteUs_ >= int64_t{plan_.burnSilenceMs} * 1000;
      if (plan_.pulled && HalfImageAccepted(chip)) {
        result_ = BoardResult::kPulled;
        phase_ = Phase::kGone;
        leftUs_ = nowUs;
      } else if (stats.finished) {
        EndBurn(stats.trailerSent && stats.streamOk ? BoardResult::kBurned : BoardResult::kFailed,
                nowUs);
      } else if (stats.failureReplied || (burning && hostQuiet)) {
        EndBurn(BoardResult::kFailed, nowUs);
      }
      return;
    }
    case Phase::kApplication:
      if (!plan_.stuck && nowUs - appStartUs_ >= int64_t{plan_.appMs} * 1000) {
        phase_ = Phase::kGone;
        leftUs_ = nowUs;
      }
      return;
    case Phase::kGone:
      return;
  }
}

void BoardLife::LineDied(int64_t nowUs) {
  if (phase_ == Phase::kGone) {
    return;
  }
  if (phase_ == Phase::kInPlace) {
    result_ = BoardResult::kPulled;
  }
  phase_ = Phase::kGone;
  leftUs_ = nowUs;
}

void BoardLife::EndBurn(BoardResult result, int64_t nowUs) {
  result_ = result;
  phase_ = Phase::kApplication;
  appStartUs_ = nowUs;
}

void BoardLife::HearWhileRunning(uint8_t byte) {
  if (phase_ == Phase::kApplication && wakeSentence_.Hear(byte)) {
    ++wakeSentences_;
  }
}

bool BoardLife::Speaks() const {
  return phase_ == Phase::kApplication && result_ == BoardResult::kBurned &&
         plan_.speech == AppSpeech::kNmea;
}

BoardRecord BoardLife::Record(const Chip& chip, int64_t nowUs) const {
  BoardRecord record;
  record.number = plan_.number;
  record.result = result_;
  const bool arrivedInLoader = !chip.Rom().Started() && chip.RunningLoader() != nullptr;
  const bool started = chip.Rom().Woken() || (arrivedInLoader && lastHostByteUs_ >= 0);
  record.burnsStarted = started ? 1 : 0;
  if (const RamProgram* loader = chip.RunningLoader(); loader != nullptr) {
    const LoaderStats stats = loader->Stats();
    const AcceptedStream* accepted = loader->Accepted();
    const bool streamStarted = (accepted != nullptr && accepted->headerSeen) || stats.erased ||
                               stats.blocksAccepted > 0 || stats.failureReplied;
    record.imageStagesStarted = streamStarted ? 1 : 0;
    record.imageStagesFinished = stats.trailerSent ? 1 : 0;
  }
  const BootStageStats stage = chip.StageStats();
  record.bootStageStarted = stage.started;
  record.bootStageBroughtLoader = stage.loaderStarted;
  record.wakeSentencesAfterBurn = wakeSentences_;
  record.left = phase_ == Phase::kGone;
  record.inPlaceUs = (record.left ? leftUs_ : nowUs) - arrivedUs_;
  return record;
}

const char* ResultName(BoardResult result) {
  switch (result) {
    case BoardResult::kBurned:
      return "burned";
    case BoardResult::kFailed:
      return "failed";
    case BoardResult::kPulled:
      return "pulled";
    case BoardResult::kNeverBurned:
      break;
  }
  return "never burned";
}

}  // namespace tarvok::sim
