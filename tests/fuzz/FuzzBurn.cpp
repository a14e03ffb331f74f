// A whole burn against every reply a chip (or a noisy line) can give: the boot-ROM handshake,
// the loader download and start, then hello, switch, flash parameters, image stream and
// finish, with the burn's own handshake budget, through the entry point the burn run uses.
#include <algorithm>
#include <array>

#include "burn/BurnSequence.h"
#include "burn/EmbeddedLoader.h"
#include "burn/LineOptions.h"
#include "rom/RomTR7340.h"
#include "tests/fuzz/FuzzTarget.h"
#include "tests/fuzz/LoaderBounds.h"
#include "tests/fuzz/Require.h"
#include "tests/fuzz/SyncBounds.h"
#include "tests/fuzz/TestData.h"

namespace tarvok::fuzz {
namespace {

constexpr uint32_t kMaxImageBytes = 6000;
constexpr uint32_t kMaxLoaderBytes = 1024;  // blocks and halfwords, not a whole loader
constexpr uint32_t kRomRate = 9600;

// Every burn status: success, the argument checks, the descriptor checks, the boot stage, the
// hello's own codes, then the loader steps.
constexpr std::array<uint32_t, 17> kBurnStatuses = {kBurnOk,
                                                    kBurnMissingArgument,
                                                    kBurnNoPort,
                                                    0x505,
                                                    0x504,
                                                    kBurnNoRomDriver,
                                                    0xB0006,
                                                    0xA0006,
                                                    0xC0006,
                                                    8,
                                                    9,
                                                    10,
                                                    16,
                                                    kBurnBaudRateUnreadable,
                                                    kBurnBaudRateNotRestored,
                                                    kBurnFlashParametersFailed,
                                                    kBurnImageStreamFailed};

LineBounds BurnBounds(uint32_t loaderBytes, uint32_t imageSize, uint8_t echoRepeats) {
  const uint64_t downloadWrites = 3 + loaderBytes / 2 + 1 + 3 + 2;
  return {
      .maxWrites = SyncMaxWrites(kBurnCycles) + downloadWrites +
                   LoaderMaxWrites(imageSize, kDefaultBlockSize, echoRepeats),
      // The longest stretch without a write: the loader's stream end, or a block echo of
      // the loader download trickling in byte by byte.
      .maxMsBetweenWrites = std::max<uint64_t>(
          kLoaderMaxMsBetweenWrites, kRomBlockEchoPauseMs + ReadBoundMs(kRomBlockBytes, 0, 100)),
      .maxCallsBetweenWrites = kSyncMaxCallsBetweenWrites,
      .maxWriteBytes = kDefaultBlockSize};
}

}  // namespace

void RunTarget(FuzzInput& input, WhenScriptEnds end) {
  const uint8_t choices = input.Byte();
  const bool loaderRunning = (choices & 1) != 0;  // no loader stage: the loader greets at once
  const bool keepHello = (choices & 2) != 0;
  const uint32_t loaderBytes = 1 + input.Below(kMaxLoaderBytes, 299);
  const uint32_t imageSize = input.Below(kMaxImageBytes + 1, 5000);
  // 0 keeps the rate; 1-4 the burn rates; 5 a rate the loader has no code for.
  const uint32_t rateChoice = input.Byte(4) % 6u;
  constexpr uint32_t kRateWithoutCode = 12345;
  const uint32_t burnRate = rateChoice == 0   ? 0
                            : rateChoice == 5 ? kRateWithoutCode
                                              : kBurnRates[rateChoice - 1].value;
  const auto echoRepeats = static_cast<uint8_t>(input.Byte() % 3);
  const uint8_t eraseWait = input.Byte();
  FlashImage image = SeededImage(imageSize, kDefaultBlockSize, input.Byte());

  LoaderImage loader;
  loader.LoadEmbedded(kEmbeddedLoader, std::min(loaderBytes, kEmbeddedLoaderLength));
  ProgressWatch loaderProgress;
  ProgressWatch imageProgress;
  LoaderJob loaderJob;
  loaderJob.loader = loaderRunning ? nullptr : &loader;
  loaderJob.progressFn = &ProgressWatch::Report;
  loaderJob.progressUser = &loaderProgress;
  loaderJob.triesPerCycle = kBurnTriesPerCycle;
  loaderJob.cycles = kBurnCycles;
  loaderJob.echoRepeats = echoRepeats;
  ImageJob imageJob;
  imageJob.image = &image;
  imageJob.progressFn = &ProgressWatch::Report;
  imageJob.progressUser = &imageProgress;

  WholeChipModel wholeChip(eraseWait, imageSize);
  LoaderModel runningLoader(eraseWait, imageSize);
  ChipModel& chip = loaderRunning ? static_cast<ChipModel&>(runningLoader) : wholeChip;
  const LoaderModel& chipLoader = loaderRunning ? runningLoader : wholeChip.Loader();
  ScriptedLine line(input, chip, BurnBounds(loaderBytes, imageSize, echoRepeats), end);
  LineSettings settings;
  settings.baudRate = kRomRate;
  line.SetLineSettings(settings);
  if (loaderRunning) {
    line.StartChip();
  }
  PortRecord record;
  record.handle = &line;
  record.burnRate = burnRate;
  LoaderHello hello;
  const uint32_t status =
      BurnOverHandle(&loaderJob, &imageJob, &record, keepHello ? &hello : nullptr);

  Require(std::find(kBurnStatuses.begin(), kBurnStatuses.end(), status) != kBurnStatuses.end(),
          "the burn returns one of its statuses");
  if (status == kBurnOk) {
    Require(line.BaudRate() == kRomRate, "a burn puts the port back to the rate it found");
    Require(imageProgress.lastPercent == 100, "a burn's image stage ends at 100 %");
    // Whether the finish command went does not change the status; that it was sent does.
    Require(line.LastWriteAttempt() == Bytes{kCmdFinish}, "a burn ends with the finish command");
  }
  if (line.AnsweredRightly() && imageSize >= 2) {
    Require(status == kBurnOk, "a chip that answers rightly is burned");
    Require(TookImageWhole(chipLoader.Taken(), image),
            "a chip that answers rightly receives the image whole");
    Require(chipLoader.Finished(), "the finish command reaches the chip");
  }
  line.CheckTotal("burn ms");
}

}  // namespace tarvok::fuzz
