// The display of one burn run: turns the loader stage (0-30 %) and the image stage (30-100 %)
// into one progress bar with elapsed time and speed, driven by the burn's progress and by the
// front end's one-second tick.
//
// The display is a small interface, so the dialog, the command line and the tests each show
// the same run their own way.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "burn/BurnRequest.h"

namespace tarvok {

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void SetProgress(uint8_t percent) = 0;
  virtual void SetSpeedText(const std::string& text) = 0;
  virtual void SetElapsedText(const std::string& text) = 0;
};

// What the display last showed of the run.
struct ProgressState {
  uint8_t valid = 0;
  uint8_t percent = 0;  // overall, 0-100
  uint32_t done = 0;    // bytes of the current stage
  uint32_t total = 0;
};

class BurnRun : public BurnProgressSink {
 public:
  explicit BurnRun(ProgressView& view) : view_(view) {}
  BurnRun(const BurnRun&) = delete;
  BurnRun& operator=(const BurnRun&) = delete;

  // The burn's side, on the burning thread.
  void OnBurnStart(const std::string& refusedSettings) override;
  void OnStageStart(BurnStage stage) override;
  void OnStageProgress(BurnStage stage, uint8_t percent, uint32_t done, uint32_t total) override;
  void OnBurnEnd() override;

  // The one-second tick while the run burns: elapsed time, and the speed sinking while no
  // progress comes (the chip erasing or acknowledging).
  void OnBurnTick();

  std::atomic<uint32_t> burning{0};
  std::atomic<uint32_t> elapsedSeconds{0};
  std::atomic<uint32_t> speedSeconds{0};
  std::atomic<uint32_t> lastBytesDone{0};
  std::atomic<uint32_t> prevTickBytes{0};

 private:
  void OnLoaderStageStart();
  void OnImageStageStart();
  void StageProgress(uint8_t overallPercent, uint32_t done, uint32_t total);
  void ShowProgress(const ProgressState& progress);

  ProgressView& view_;
  ProgressState progress_;  // the burning thread's own
};

}  // namespace tarvok
