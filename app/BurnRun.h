// One burn run: the records the burn sequence needs, the run's clock and counters, and the
// stage callbacks that turn the loader stage (0-30 %) and the image stage (30-100 %) into one
// progress display with elapsed time and speed.
//
// The display is a small interface, so the dialog, the command line and the tests each show
// the same run their own way.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "burn/BurnSequence.h"

namespace tarvok {

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void SetProgress(uint8_t percent) = 0;
  virtual void SetSpeedText(const std::string& text) = 0;
  virtual void SetElapsedText(const std::string& text) = 0;
};

inline constexpr uint32_t kPortRecordSettings[3] = {4, 0x0FFFFFFF, 0x0FFFFFFF};

// The image and loader descriptors of one run, as a burn prepares them: the image read whole
// from `imagePath` (a file that cannot be read leaves it not valid, which the burn reports as
// 0x505), burned from 0 with erase and 1,024-byte blocks; the embedded loader copied. Either
// stays null when memory is exhausted.
void PrepareBurnImages(const std::string& imagePath, std::unique_ptr<FlashImage>& image,
                       std::unique_ptr<LoaderImage>& loader);
// As above from an image already read: the new image shares `source`'s bytes read-only and
// nothing is read again, so several runs burn one copy of the file.
void PrepareBurnImages(const FlashImage& source, std::unique_ptr<FlashImage>& image,
                       std::unique_ptr<LoaderImage>& loader);

class BurnRun {
 public:
  explicit BurnRun(ProgressView& view) : view_(view) {}
  BurnRun(const BurnRun&) = delete;
  BurnRun& operator=(const BurnRun&) = delete;

  // Fills the records for one run over `port` and runs the burn; returns the burn status.
  uint32_t RunBurn(SerialDevice* port, int32_t burnRateIndex, LoaderImage* loader,
                   FlashImage* image);
  // The one-second tick while the run burns: elapsed time, and the speed sinking while no
  // progress comes (the chip erasing or acknowledging).
  void OnBurnTick();

  static int32_t OnLoaderStageStart(void* user);
  static int32_t OnLoaderStageProgress(uint8_t percent, uint32_t done, uint32_t total, void* user);
  static int32_t OnImageStageStart(void* user);
  static int32_t OnImageStageProgress(uint8_t percent, uint32_t done, uint32_t total, void* user);

  // Seconds the stages took, from their starts (0 for a stage that never began).
  double LoaderStageSeconds() const;
  double ImageStageSeconds() const;
  // Seconds the whole run took, whether or not a stage began (a silent chip takes the whole
  // handshake budget before the loader stage could start).
  double TotalSeconds() const;
  uint32_t ImageBytesDone() const { return imageBytesDone_; }

  BurnContext context;
  std::atomic<uint32_t> burning{0};
  std::atomic<uint32_t> elapsedSeconds{0};
  std::atomic<uint32_t> speedSeconds{0};
  std::atomic<uint32_t> lastBytesDone{0};
  std::atomic<uint32_t> prevTickBytes{0};

 private:
  using Clock = std::chrono::steady_clock;
  void StageProgress(uint8_t overallPercent, uint32_t done, uint32_t total);
  void ShowProgress(const ProgressState& progress);

  ProgressView& view_;
  Clock::time_point runStart_{};
  Clock::time_point loaderStart_{};
  Clock::time_point imageStart_{};
  Clock::time_point end_{};
  std::atomic<uint32_t> imageBytesDone_{0};
};

}  // namespace tarvok
