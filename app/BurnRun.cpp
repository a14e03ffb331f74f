#include "app/BurnRun.h"

#include "app/ProgressText.h"

namespace tarvok {

void BurnRun::OnBurnStart(const std::string& /*refusedSettings*/) {
  progress_ = ProgressState{1, 0, 0, 0};
  elapsedSeconds = 0;
  speedSeconds = 0;
  view_.SetProgress(0);
  lastBytesDone = 0;
  burning = 1;
}

void BurnRun::OnBurnEnd() {
  burning = 0;
}

void BurnRun::OnStageStart(BurnStage stage) {
  if (stage == BurnStage::kLoader) {
    OnLoaderStageStart();
  } else {
    OnImageStageStart();
  }
}

void BurnRun::OnStageProgress(BurnStage stage, uint8_t percent, uint32_t done, uint32_t total) {
  const uint8_t overall =
      stage == BurnStage::kLoader ? LoaderStagePercent(percent) : ImageStagePercent(percent);
  StageProgress(overall, done, total);
}

void BurnRun::OnLoaderStageStart() {
  progress_ = ProgressState{1, 0, 0, 0};
  elapsedSeconds = 0;
  view_.SetProgress(0);
  speedSeconds = 0;
  lastBytesDone = 0;
}

// The elapsed time runs on from the loader stage; the speed is measured afresh.
void BurnRun::OnImageStageStart() {
  progress_.percent = 30;
  progress_.done = 0;
  progress_.valid = 1;
  view_.SetProgress(30);
  speedSeconds = 0;
  lastBytesDone = 0;
}

void BurnRun::StageProgress(uint8_t overallPercent, uint32_t done, uint32_t total) {
  progress_.percent = overallPercent;
  progress_.done = done;
  progress_.total = total;
  progress_.valid = 1;
  ShowProgress(progress_);
}

void BurnRun::ShowProgress(const ProgressState& progress) {
  view_.SetProgress(progress.percent);
  if (progress.valid != 0) {
    lastBytesDone = progress.done;
    view_.SetSpeedText(FormatSpeed(progress.done, speedSeconds));
  }
}

void BurnRun::OnBurnTick() {
  if (burning == 0) {
    return;
  }
  const uint32_t elapsed = ++elapsedSeconds;
  const uint32_t seconds = ++speedSeconds;
  view_.SetElapsedText(FormatElapsed(elapsed));
  const uint32_t bytes = lastBytesDone;
  if (bytes != prevTickBytes) {
    prevTickBytes = bytes;
  } else {
    view_.SetSpeedText(FormatSpeed(bytes, seconds));
  }
}

}  // namespace tarvok
