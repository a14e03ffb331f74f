#include "app/BurnEngine.h"

#include <chrono>

#include "app/OutcomeText.h"
#include "app/StoppableDevice.h"
#include "burn/BurnSequence.h"
#include "burn/EmbeddedBootStage.h"
#include "burn/EmbeddedLoader.h"
#include "burn/LoaderDeclaration.h"

namespace tarvok {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// The stage callbacks of the burn sequence, passed on to the sink, with the stages' clocks.
class StageRelay {
 public:
  explicit StageRelay(BurnProgressSink& sink) : sink_(sink) {}

  static int32_t OnLoaderStart(void* user) { return Relay(user).Start(BurnStage::kLoader); }
  static int32_t OnImageStart(void* user) { return Relay(user).Start(BurnStage::kImage); }
  static int32_t OnLoaderProgress(uint8_t percent, uint32_t done, uint32_t total, void* user) {
    return Relay(user).Progress(BurnStage::kLoader, percent, done, total);
  }
  static int32_t OnImageProgress(uint8_t percent, uint32_t done, uint32_t total, void* user) {
    return Relay(user).Progress(BurnStage::kImage, percent, done, total);
  }

  void Begin() { runStart_ = Clock::now(); }
  void End(BurnOutcome& outcome) const {
    const Clock::time_point end = Clock::now();
    outcome.totalSeconds = SecondsBetween(runStart_, end);
    if (loaderStart_ != Clock::time_point{}) {
      const Clock::time_point stop = imageStart_ != Clock::time_point{} ? imageStart_ : end;
      outcome.loaderStageSeconds = SecondsBetween(loaderStart_, stop);
    }
    if (imageStart_ != Clock::time_point{}) {
      outcome.imageStageSeconds = SecondsBetween(imageStart_, end);
    }
    outcome.imageBytesDone = imageBytesDone_;
  }

 private:
  static StageRelay& Relay(void* user) { return *static_cast<StageRelay*>(user); }

  int32_t Start(BurnStage stage) {
    (stage == BurnStage::kLoader ? loaderStart_ : imageStart_) = Clock::now();
    sink_.OnStageStart(stage);
    return 0;
  }
  int32_t Progress(BurnStage stage, uint8_t percent, uint32_t done, uint32_t total) {
    if (stage == BurnStage::kImage) {
      imageBytesDone_ = done;
    }
    sink_.OnStageProgress(stage, percent, done, total);
    return 0;
  }

  BurnProgressSink& sink_;
  Clock::time_point runStart_{};
  Clock::time_point loaderStart_{};
  Clock::time_point imageStart_{};
  uint32_t imageBytesDone_ = 0;
};

// The run's own copy of the image: the request's bytes, shared read-only, burned from 0 with
// erase in 1,024-byte blocks.
std::unique_ptr<FlashImage> ImageForBurn(const FlashImage& source) {
  std::unique_ptr<FlashImage> image = CreateFlashImage();
  if (!image) {
    return image;
  }
  image->path = source.path;
  image->modifiedTime = source.modifiedTime;
  if (source.data && source.size != 0) {
    image->data = source.data;
    image->size = source.size;
    image->endAddress = image->startAddress + source.size - 1;
  }
  image->valid = 1;
  image->eraseFlag = 1;
  image->blockSize = kDefaultBlockSize;
  return image;
}

// The loader the request names, or the one built in.
std::unique_ptr<LoaderImage> LoaderForBurn(const BurnRequest& request) {
  std::unique_ptr<LoaderImage> loader;
  if (CreateLoaderImage(&loader) == 0) {
    if (request.loader) {
      loader->LoadEmbedded(request.loader->data(), static_cast<uint32_t>(request.loader->size()));
    } else {
      loader->LoadEmbedded(kEmbeddedLoader, kEmbeddedLoaderLength);
    }
  }
  return loader;
}

// What the burn adds to the classic exchange with this loader: the boot stage that brings it
// in (a named loader only with a named stage; ours with the stage built in, when it declares
// it) and the read-back of the flash (when it declares it). --classic adds nothing.
void UseAdditions(const BurnRequest& request, const LoaderImage& loader, BurnContext& records) {
  if (request.classic) {
    return;
  }
  const LoaderAdditions declared = DeclaredAdditions(loader.data.get(), loader.size);
  if (request.bootStage) {
    records.loaderJob.bootStage = request.bootStage->data();
    records.loaderJob.bootStageLength = static_cast<uint32_t>(request.bootStage->size());
  } else if (!request.loader && declared.bootStage) {
    records.loaderJob.bootStage = kEmbeddedBootStage;
    records.loaderJob.bootStageLength = kEmbeddedBootStageLength;
  }
  if (declared.flashCrc) {
    records.imageJob.readBack = &records.readBack;
  }
}

ReadBack ReadBackOf(const FlashReadBack& readBack, uint32_t status) {
  if (!readBack.asked) {
    return ReadBack::kNotAsked;
  }
  if (!readBack.answered) {
    return ReadBack::kNoAnswer;
  }
  return status == kBurnReadBackFailed ? ReadBack::kDiffers : ReadBack::kMatched;
}

// Runs the burn sequence over the open port; the status, with what the run learned in
// `outcome`.
uint32_t RunSequence(const BurnRequest& request, SerialDevice& port, StageRelay& relay,
                     BurnOutcome& outcome) {
  const std::unique_ptr<FlashImage> image = ImageForBurn(*request.image);
  const std::unique_ptr<LoaderImage> loader = LoaderForBurn(request);
  BurnContext records;
  records.portRecord.handle = &port;
  records.portRecord.burnRate = request.line.burnRate;
  records.loaderJob.loader = request.loaderRunning ? nullptr : loader.get();
  records.loaderJob.startFn = StageRelay::OnLoaderStart;
  records.loaderJob.startUser = &relay;
  records.loaderJob.progressFn = StageRelay::OnLoaderProgress;
  records.loaderJob.progressUser = &relay;
  records.loaderJob.triesPerCycle = kBurnTriesPerCycle;
  records.loaderJob.cycles = kBurnCycles;
  records.loaderJob.echoRepeats = request.echoRepeats;
  records.imageJob.image = image.get();
  records.imageJob.startFn = StageRelay::OnImageStart;
  records.imageJob.startUser = &relay;
  records.imageJob.progressFn = StageRelay::OnImageProgress;
  records.imageJob.progressUser = &relay;
  if (loader) {
    UseAdditions(request, *loader, records);
  }
  const uint32_t status = BurnOverHandle(&records.loaderJob, &records.imageJob, &records.portRecord,
                                         &records.hello, &outcome.stepResult);
  outcome.hello = records.hello;
  outcome.bootStageUsed =
      records.loaderJob.loader != nullptr && records.loaderJob.bootStage != nullptr;
  outcome.readBack = ReadBackOf(records.readBack, status);
  outcome.imageCrc = records.readBack.asked ? records.readBack.imageCrc : 0;
  outcome.flashCrc = records.readBack.answered ? records.readBack.flashCrc : 0;
  outcome.readBackSeconds = static_cast<double>(records.readBack.milliseconds) / 1000;
  return status;
}

}  // namespace

BurnOutcome Burn(const BurnRequest& request, BurnProgressSink& sink, const DeviceOpener& open) {
  BurnOutcome outcome;
  if (const std::string problem = ProblemWithRequest(request); !problem.empty()) {
    outcome.status = kBurnMissingArgument;
    DescribeOutcome(outcome, request);
    outcome.explanation = problem;
    return outcome;
  }
  PortState port;
  OpenSelectedPort(request.devicePath, request.line, port, open);
  if (port.portOpen == 0) {
    outcome.status = kBurnNoPort;
    outcome.openFailure = port.openFailure;
    outcome.openFailureReason = port.openFailureReason;
    DescribeOutcome(outcome, request);
    return outcome;
  }
  outcome.portOpened = true;
  outcome.refusedSettings = port.refusedSettings;

  StoppableDevice device(*port.portHandle, request.stop);
  StageRelay relay(sink);
  sink.OnBurnStart(outcome.refusedSettings);
  relay.Begin();
  outcome.status = RunSequence(request, device, relay, outcome);
  relay.End(outcome);
  sink.OnBurnEnd();
  // A stopped run may have left the port at the burn rate, with bytes queued.
  outcome.interrupted = device.Stopped();
  if (outcome.interrupted) {
    // The step that was cut short did not fail on its own: it has no result to tell.
    outcome.stepResult = 0;
    device.RestoreLine();
  }
  // A board pulled goes quiet a moment before its port goes, and the boot ROM's reads give up
  // at the first that brings nothing: such a run may end with no call having failed for the
  // port's going. The port's close would be the first to hear it, and it goes to the port
  // itself; the port is asked once more through the run's device instead.
  if (outcome.status != kBurnOk && !outcome.interrupted && !device.WentAway()) {
    device.AskWhetherGone();
  }
  outcome.portWentAway = device.WentAway();
  outcome.networkRoundTripMs = device.RoundTripMs();
  CloseSelectedPort(port);
  DescribeOutcome(outcome, request);
  return outcome;
}

}  // namespace tarvok
