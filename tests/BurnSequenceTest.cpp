#include <gtest/gtest.h>

#include <vector>

#include "burn/BootStageLink.h"
#include "burn/BurnSequence.h"
#include "burn/EmbeddedBootStage.h"
#include "burn/EmbeddedLoader.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

// One burn as the burn run prepares it, against a simulated chip behind a fake port.
class Burn {
 public:
  Burn(const sim::ChipOptions& options, const Bytes& imageBytes, uint32_t burnRate)
      : wire(device, options), bytes(imageBytes), image(MakeImage(imageBytes)) {
    CreateLoaderImage(&loader);
    loader->LoadEmbedded(kEmbeddedLoader, kEmbeddedLoaderLength);
    portRecord.burnRate = burnRate;
    portRecord.handle = &device;
    loaderJob.loader = options.startInLoader ? nullptr : loader.get();
    loaderJob.startFn = ProgressLog::OnStart;
    loaderJob.startUser = &loaderLog;
    loaderJob.progressFn = ProgressLog::OnProgress;
    loaderJob.progressUser = &loaderLog;
    loaderJob.triesPerCycle = kBurnTriesPerCycle;
    loaderJob.cycles = kBurnCycles;
    imageJob.image = image.get();
    imageJob.startFn = ProgressLog::OnStart;
    imageJob.startUser = &imageLog;
    imageJob.progressFn = ProgressLog::OnProgress;
    imageJob.progressUser = &imageLog;
  }

  uint32_t Run() { return BurnOverHandle(&loaderJob, &imageJob, &portRecord, &hello); }

  bool FlashHoldsTheImage() const {
    const auto& cells = wire.chip.FlashMemory().Cells();
    return Bytes(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(bytes.size())) == bytes;
  }

  FakeSerialDevice device;
  ChipOnWire wire;
  Bytes bytes;
  std::unique_ptr<FlashImage> image;
  std::unique_ptr<LoaderImage> loader;
  PortRecord portRecord;
  LoaderJob loaderJob;
  ImageJob imageJob;
  LoaderHello hello;
  FlashReadBack readBack;
  ProgressLog loaderLog;
  ProgressLog imageLog;
};

sim::ChipOptions SmallChip() {
  sim::ChipOptions options;
  options.flashBytes = 512 * 1024;
  return options;
}

sim::ChipOptions LoaderRunning() {
  sim::ChipOptions options = SmallChip();
  options.startInLoader = true;
  return options;
}

TEST(BurnSequence, WholeBurnAt921600) {
  Burn burn(SmallChip(), ImageBytes(100 * 1024), 921600);
  EXPECT_EQ(burn.Run(), kBurnOk);
  EXPECT_TRUE(burn.FlashHoldsTheImage());
  EXPECT_TRUE(burn.wire.chip.BurnEnded());
  EXPECT_EQ(burn.hello.major, 1);
  // The loader went to 0xC00 whole, its progress rising to 100 % over its own length.
  const auto& ram = burn.wire.chip.Rom().Ram();
  EXPECT_EQ(Bytes(ram.begin() + 0xC00, ram.begin() + 0xC00 + kEmbeddedLoaderLength),
            Bytes(kEmbeddedLoader, kEmbeddedLoader + kEmbeddedLoaderLength));
  EXPECT_EQ(burn.loaderLog.starts, 1u);
  const auto& loaderReports = burn.loaderLog.reports;
  ASSERT_FALSE(loaderReports.empty());
  EXPECT_EQ(loaderReports.back(),
            (ProgressReport{100, kEmbeddedLoaderLength, kEmbeddedLoaderLength}));
  for (size_t k = 1; k < loaderReports.size(); ++k) {
    EXPECT_GT(loaderReports[k].percent, loaderReports[k - 1].percent) << k;
    EXPECT_GT(loaderReports[k].done, loaderReports[k - 1].done) << k;
  }
  EXPECT_EQ(burn.imageLog.starts, 1u);
  EXPECT_EQ(burn.imageLog.reports.back(), (ProgressReport{100, 100 * 1024 - 4, 100 * 1024}));
  // Switched to 921600 for the image and back to the boot-ROM rate at the end.
  const auto rates = burn.device.EventsOf(Kind::kSetLine);
  ASSERT_GE(rates.size(), 3u);
  EXPECT_EQ(rates[rates.size() - 2].value, 921600u);
  EXPECT_EQ(rates.back().value, 9600u);
  EXPECT_EQ(burn.device.BaudRate(), 9600u);
  // The finish command is the last byte on the wire, and it leaves the port before the rate
  // changes back; then only the input is discarded, never the output.
  const auto& events = burn.device.Events();
  ASSERT_GE(events.size(), 7u);
  std::vector<std::pair<Kind, uint32_t>> tail;
  for (auto e = events.end() - 7; e != events.end(); ++e) {
    tail.emplace_back(e->kind, e->kind == Kind::kWrite ? e->bytes.at(0) : e->value);
  }
  EXPECT_EQ(tail, (std::vector<std::pair<Kind, uint32_t>>{{Kind::kWrite, 0xE5},
                                                          {Kind::kDrain, 0},
                                                          {Kind::kDrain, 0},
                                                          {Kind::kSleep, kRateChangeGuardMs},
                                                          {Kind::kSetLine, 9600},
                                                          {Kind::kSleep, kRateChangeGuardMs},
                                                          {Kind::kPurge, kPurgeInput}}));
  // Virtual time: the download and the pauses take seconds, not the test.
  EXPECT_GT(burn.device.NowMs(), 4000u);
}

TEST(BurnSequence, BootRomAt115200AndEchoTest) {
  sim::ChipOptions options = SmallChip();
  options.romRate = 115200;
  Burn burn(options, ImageBytes(3000), 115200);
  burn.loaderJob.echoRepeats = 1;
  EXPECT_EQ(burn.Run(), kBurnOk);
  EXPECT_TRUE(burn.FlashHoldsTheImage());
  // A burn rate equal to the rate in force still runs the whole switch exchange.
  EXPECT_EQ(burn.wire.chip.RunningLoader()->Stats().probes, 1u);
  EXPECT_EQ(burn.wire.chip.RunningLoader()->Stats().echoTestBytes, 11u);
}

TEST(BurnSequence, NullLoaderStartsWithTheHello) {
  Burn burn(LoaderRunning(), ImageBytes(6000), 0);
  burn.portRecord.handle = &burn.device;
  EXPECT_EQ(BurnOverHandle(&burn.loaderJob, &burn.imageJob, &burn.portRecord, nullptr), kBurnOk);
  EXPECT_TRUE(burn.FlashHoldsTheImage());
  // No purge before the hello, no switch: the first bytes on the wire are the flash parameters.
  const auto& events = burn.device.Events();  // after the line set-up of the fake
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[1].kind, Kind::kWrite);
  EXPECT_EQ(events[1].bytes, (Bytes{0xE2, 0x01}));
  EXPECT_EQ(burn.loaderLog.starts, 0u);
  // The final return to the initial rate changes nothing but still purges.
  const auto purges = burn.device.EventsOf(Kind::kPurge);
  ASSERT_EQ(purges.size(), 1u);
  EXPECT_EQ(burn.device.EventsOf(Kind::kSetLine).size(), 1u);  // the set-up of the fake
}

TEST(BurnSequence, FailedSwitchCarriesOnAtTheInitialRate) {
  Burn burn(LoaderRunning(), ImageBytes(6000), 12345);  // no code for it: the switch is refused
  EXPECT_EQ(burn.Run(), kBurnOk);
  EXPECT_TRUE(burn.FlashHoldsTheImage());
  EXPECT_EQ(burn.device.Written().front(), 0xE2);
}

TEST(BurnSequence, FailedFinishChangesNothing) {
  // Writes of an 8-byte image: E2 pair, start, end, header, block, sum, finish.
  Burn burn(LoaderRunning(), ImageBytes(8), 0);
  burn.device.failWriteNumber = 7;
  EXPECT_EQ(burn.Run(), kBurnOk);
  EXPECT_TRUE(burn.FlashHoldsTheImage());
  EXPECT_FALSE(burn.wire.chip.BurnEnded());
}

struct StatusCase {
  const char* name;
  sim::ChipOptions chip;
  uint32_t status;
  uint32_t stepResult;    // the failing step's own code
  bool staged = false;    // the loader comes in through the boot stage built in
  bool readBack = false;  // the flash is read back after the image
};

sim::ChipOptions With(sim::ChipOptions options, void (*change)(sim::ChipOptions&)) {
  change(options);
  return options;
}

// A running loader that answers one block of the stream (counted from 0) with a reply code.
sim::ChipOptions LoaderReplies(uint32_t block, uint8_t code) {
  sim::ChipOptions options = LoaderRunning();
  options.loader.replyCodeBlock = block;
  options.loader.replyCode = code;
  return options;
}

TEST(BurnSequence, StatusNamesTheFailingStep) {
  const StatusCase cases[] = {
      {"silent chip", With(SmallChip(), [](auto& o) { o.silent = true; }), 0xB0006, 0xB0000},
      {"no handshake", With(SmallChip(), [](auto& o) { o.noHandshake = true; }), 0xB0006, 0xB0000},
      {"wrong echo of the download", With(SmallChip(), [](auto& o) { o.wrongEcho = true; }),
       0xA0006, 0xA0000},
      {"wrong checksum", With(SmallChip(), [](auto& o) { o.wrongChecksum = true; }), 0xA0006,
       0xA0000},
      {"loader not started", With(SmallChip(), [](auto& o) { o.noExecute = true; }), 0xC0006,
       0xC0000},
      {"busy instead of hello",
       With(LoaderRunning(), [](auto& o) { o.loader.busyInsteadOfHello = true; }), 16, 0},
      {"loader version 1.1", With(LoaderRunning(), [](auto& o) { o.loader.helloMinor = 1; }), 10,
       0},
      {"no hello", With(LoaderRunning(), [](auto& o) { o.silent = true; }), 8, 0},
      {"stream: reply 5", LoaderReplies(0, 5), 14, 9},
      {"stream: image larger than the flash (reply 5 at its fourth block)",
       With(LoaderRunning(), [](auto& o) { o.flashBytes = 4096; }), 14, 9},
      {"stream: flash error (reply 6)", LoaderReplies(1, 6), 14, 10},
      {"stream: one block rejected 100 times in a row",
       With(LoaderRunning(),
            [](auto& o) {
              o.loader.rejectBlock = 2;
              o.loader.rejectTimes = 1000;
            }),
       14, kStreamTooManyRejections},
      {"stream: final 0xB6", With(LoaderRunning(), [](auto& o) { o.loader.finalFailure = true; }),
       14, 19},
      {"switch fails after the chip switched: no flash parameters at the old rate",
       With(LoaderRunning(), [](auto& o) { o.loader.firstEchoedProbe = 11; }), 13, 6},
      {"boot stage: nothing answers at its address",
       With(SmallChip(), [](auto& o) { o.stageSilent = true; }), kBurnBootStageFailed,
       kStageNoHello, true},
      {"boot stage: its block's echo garbled",
       With(SmallChip(), [](auto& o) { o.wrongEcho = true; }), 0xA0006, 0xA0000, true},
      {"boot stage: the boot ROM does not start it",
       With(SmallChip(), [](auto& o) { o.noExecute = true; }), 0xC0006, 0xC0000, true},
      {"read-back: the loader's CRC-32 is not the image's",
       With(LoaderRunning(), [](auto& o) { o.loader.wrongCrc = true; }), kBurnReadBackFailed,
       kReadBackDiffers, false, true},
      {"read-back: a block bent on the line, its sum unchanged, was accepted",
       With(LoaderRunning(), [](auto& o) { o.loader.bendBlock = 2; }), kBurnReadBackFailed,
       kReadBackDiffers, false, true},
      {"a flash cell that takes no bits: the loader's own check ends the stream",
       With(LoaderRunning(), [](auto& o) { o.stuckCell = 0x400; }), 14, 19, false, true},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    Burn burn(c.chip, ImageBytes(5000), 921600);
    if (c.staged) {
      burn.loaderJob.bootStage = kEmbeddedBootStage;
      burn.loaderJob.bootStageLength = kEmbeddedBootStageLength;
    }
    if (c.readBack) {
      burn.imageJob.readBack = &burn.readBack;
    }
    uint32_t stepResult = 99;
    EXPECT_EQ(
        BurnOverHandle(&burn.loaderJob, &burn.imageJob, &burn.portRecord, &burn.hello, &stepResult),
        c.status);
    EXPECT_EQ(stepResult, c.stepResult);
    // The port is back at the boot-ROM rate only on paths that restore it; either way the
    // burn never reports success, and a chip whose flash is not the image is never finished.
    EXPECT_FALSE(burn.wire.chip.BurnEnded());
    if (c.status == kBurnReadBackFailed) {
      EXPECT_TRUE(burn.readBack.answered);
      EXPECT_NE(burn.readBack.flashCrc, burn.readBack.imageCrc);
    }
  }
}

TEST(BurnSequence, PortFailures) {
  {
    SCOPED_TRACE("current rate unreadable");
    Burn burn(LoaderRunning(), ImageBytes(100), 921600);
    burn.device.failGetLine.remaining = 1;
    EXPECT_EQ(burn.Run(), kBurnBaudRateUnreadable);
  }
  {
    SCOPED_TRACE("switch fails and the initial rate cannot be set again");
    Burn burn(LoaderRunning(), ImageBytes(100), 921600);
    burn.device.failPurge.remaining = 2;
    EXPECT_EQ(burn.Run(), kBurnBaudRateNotRestored);
  }
  {
    SCOPED_TRACE("flash parameters not written");
    Burn burn(LoaderRunning(), ImageBytes(100), 0);
    burn.device.failWriteNumber = 1;
    EXPECT_EQ(burn.Run(), kBurnFlashParametersFailed);
  }
  {
    SCOPED_TRACE("final return to the initial rate fails");
    Burn burn(LoaderRunning(), ImageBytes(100), 0);
    burn.device.failPurge.remaining = 1;
    EXPECT_EQ(burn.Run(), kBurnBaudRateNotRestored);
    EXPECT_TRUE(burn.FlashHoldsTheImage());
  }
}

TEST(BurnSequence, ArgumentsAndDescriptors) {
  Burn burn(SmallChip(), ImageBytes(100), 921600);
  EXPECT_EQ(BurnOverHandle(nullptr, &burn.imageJob, &burn.portRecord, nullptr),
            kBurnMissingArgument);
  EXPECT_EQ(BurnOverHandle(&burn.loaderJob, nullptr, &burn.portRecord, nullptr),
            kBurnMissingArgument);
  EXPECT_EQ(BurnOverHandle(&burn.loaderJob, &burn.imageJob, nullptr, nullptr),
            kBurnMissingArgument);
  ImageJob noImage;
  EXPECT_EQ(BurnOverHandle(&burn.loaderJob, &noImage, &burn.portRecord, nullptr),
            kBurnMissingArgument);
  PortRecord closed;
  EXPECT_EQ(BurnOverHandle(&burn.loaderJob, &burn.imageJob, &closed, nullptr), kBurnNoPort);

  // An invalid image is reported first, even with an invalid loader.
  burn.loader->data.reset();
  burn.image->size = 1;
  burn.image->endAddress = 0;
  EXPECT_EQ(burn.Run(), 0x505u);
  burn.image->size = 100;
  burn.image->endAddress = 99;
  EXPECT_EQ(burn.Run(), 0x504u);
  EXPECT_EQ(burn.device.Events().size(), 1u);  // nothing but the fake's set-up

  // An image too large for the loader's 27-bit addresses is refused before anything is sent.
  burn.image->endAddress = 0x08000000;
  EXPECT_EQ(burn.Run(), 0x505u);
  EXPECT_TRUE(burn.device.Written().empty());
}

}  // namespace
}  // namespace tarvok
