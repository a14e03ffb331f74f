#include "app/BurnRun.h"

#include "app/ProgressText.h"
#include "burn/EmbeddedLoader.h"

namespace tarvok {

namespace {

void PrepareLoader(std::unique_ptr<LoaderImage>& loader) {
  if (CreateLoaderImage(&loader) == 0) {
    loader->LoadEmbedded(kEmbeddedLoader, kEmbeddedLoaderLength);
  }
}

// Burned from 0, with erase, in 1,024-byte blocks.
void SetBurnDefaults(FlashImage& image) {
  image.valid = 1;
  image.eraseFlag = 1;
  image.blockSize = kDefaultBlockSize;
}

}  // namespace

void PrepareBurnImages(const std::string& imagePath, std::unique_ptr<FlashImage>& image,
                       std::unique_ptr<LoaderImage>& loader) {
  image = CreateFlashImage();
  PrepareLoader(loader);
  if (image) {
    if (!imagePath.empty()) {
      image->LoadFile(imagePath.c_str());
    }
    SetBurnDefaults(*image);
  }
}

void PrepareBurnImages(const FlashImage& source, std::unique_ptr<FlashImage>& image,
                       std::unique_ptr<LoaderImage>& loader) {
  image = CreateFlashImage();
  PrepareLoader(loader);
  if (image) {
    image->path = source.path;
    image->modifiedTime = source.modifiedTime;
    if (source.data) {
      image->data = source.data;
      image->size = source.size;
      image->endAddress = image->startAddress + source.size - 1;
    }
    SetBurnDefaults(*image);
  }
}

uint32_t BurnRun::RunBurn(SerialDevice* port, int32_t burnRateIndex, LoaderImage* loader,
                          FlashImage* image) {
  runStart_ = Clock::now();
  context.progress = ProgressState{1, 0, 0, 0};
  elapsedSeconds = 0;
  speedSeconds = 0;
  view_.SetProgress(0);
  lastBytesDone = 0;

  context.portRecord = PortRecord{};
  context.portRecord.handle = port;
  context.portRecord.burnRateIndex = burnRateIndex;
  std::copy(std::begin(kPortRecordSettings), std::end(kPortRecordSettings),
            context.portRecord.settings);
  context.loaderJob = LoaderJob{};
  context.loaderJob.loader = loader;
  context.loaderJob.startFn = OnLoaderStageStart;
  context.loaderJob.startUser = this;
  context.loaderJob.progressFn = OnLoaderStageProgress;
  context.loaderJob.progressUser = this;
  context.loaderJob.triesPerCycle = kBurnTriesPerCycle;
  context.loaderJob.cycles = kBurnCycles;
  context.loaderJob.echoRepeats = 0;
  context.imageJob = ImageJob{};
  context.imageJob.image = image;
  context.imageJob.blockCount = 0;
  context.imageJob.startFn = OnImageStageStart;
  context.imageJob.startUser = this;
  context.imageJob.progressFn = OnImageStageProgress;
  context.imageJob.progressUser = this;
  context.hello = LoaderHello{};

  const uint32_t status =
      BurnOverHandle(&context.loaderJob, &context.imageJob, &context.portRecord, &context.hello);
  end_ = Clock::now();
  return status;
}

int32_t BurnRun::OnLoaderStageStart(void* user) {
  auto& run = *static_cast<BurnRun*>(user);
  run.context.progress = ProgressState{1, 0, 0, 0};
  run.elapsedSeconds = 0;
  run.view_.SetProgress(0);
  run.speedSeconds = 0;
  run.lastBytesDone = 0;
  run.loaderStart_ = Clock::now();
  return 0;
}

int32_t BurnRun::OnLoaderStageProgress(uint8_t percent, uint32_t done, uint32_t total, void* user) {
  static_cast<BurnRun*>(user)->StageProgress(LoaderStagePercent(percent), done, total);
  return 0;
}

int32_t BurnRun::OnImageStageStart(void* user) {
  auto& run = *static_cast<BurnRun*>(user);
  ProgressState& progress = run.context.progress;
  progress.percent = 30;
  progress.done = 0;
  progress.valid = 1;
  run.view_.SetProgress(30);
  run.speedSeconds = 0;
  run.lastBytesDone = 0;
  run.imageStart_ = Clock::now();
  return 0;
}

int32_t BurnRun::OnImageStageProgress(uint8_t percent, uint32_t done, uint32_t total, void* user) {
  auto& run = *static_cast<BurnRun*>(user);
  run.imageBytesDone_ = done;
  run.StageProgress(ImageStagePercent(percent), done, total);
  return 0;
}

void BurnRun::StageProgress(uint8_t overallPercent, uint32_t done, uint32_t total) {
  ProgressState& progress = context.progress;
  progress.percent = overallPercent;
  progress.done = done;
  progress.total = total;
  progress.valid = 1;
  ShowProgress(progress);
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

double BurnRun::LoaderStageSeconds() const {
  if (loaderStart_ == Clock::time_point{}) {
    return 0;
  }
  const Clock::time_point stop = imageStart_ != Clock::time_point{} ? imageStart_ : end_;
  return std::chrono::duration<double>(stop - loaderStart_).count();
}

double BurnRun::TotalSeconds() const {
  if (runStart_ == Clock::time_point{}) {
    return 0;
  }
  return std::chrono::duration<double>(end_ - runStart_).count();
}

double BurnRun::ImageStageSeconds() const {
  if (imageStart_ == Clock::time_point{}) {
    return 0;
  }
  return std::chrono::duration<double>(end_ - imageStart_).count();
}

}  // namespace tarvok
