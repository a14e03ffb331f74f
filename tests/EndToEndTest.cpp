// Whole burns through the Linux serial layer into the simulated chip over a real
// pseudo-terminal, with the flash compared byte for byte afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "burn/BurnSequence.h"
#include "sim/PtyChip.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/PtyBurn.h"

namespace tarvok {
namespace {

using namespace testing;
using Bytes = std::vector<uint8_t>;

ChipBurnResult BurnInto(sim::PtyChip& chip, const Bytes& bytes, const std::string& romRate,
                        int32_t burnRateList, bool withLoader) {
  BurnSetup setup;
  setup.romRate = romRate;
  setup.burnRateList = burnRateList;
  setup.download = withLoader;
  return testing::BurnInto(chip, bytes, setup);
}

struct WholeBurn {
  uint32_t romRate;
  int32_t burnRateList;  // position in the "Burn BaudRate:" list
  uint32_t latencyMs;    // of the adapter's timer on the chip's answers
};

class EndToEndWholeBurn : public ::testing::TestWithParam<WholeBurn> {};

TEST_P(EndToEndWholeBurn, LoaderDownloadAndImage) {
  sim::PtyChipOptions options;
  options.chip.romRate = GetParam().romRate;
  options.chip.flashBytes = 1024 * 1024;
  options.wire.latencyMs = GetParam().latencyMs;
  // The board's application stays quiet: a fix it sent just before the sentence reached it can
  // still sit in the adapter and arrive after the sentence, and 51 such bytes read in state 0
  // end the first cycle by design. This case is about the adapter's timer alone.
  options.wire.chatter = false;
  const auto chip = StartChip(options);
  ASSERT_NE(chip, nullptr);
  const Bytes bytes = ImageBytes(
      48 * 1024 + 5, GetParam().romRate + static_cast<uint32_t>(GetParam().burnRateList));
  const ChipBurnResult outcome =
      BurnInto(*chip, bytes, std::to_string(GetParam().romRate), GetParam().burnRateList, true);
  EXPECT_EQ(outcome.status, kBurnOk);
  EXPECT_TRUE(outcome.flashHoldsImage);
  EXPECT_TRUE(outcome.finishArrived);
  const sim::ChipReport report = chip->Report();
  EXPECT_EQ(report.sentencesHeard, 1u) << "the boot ROM woke in the first handshake cycle";
  EXPECT_TRUE(report.flashHoldsAcceptedImage);
}

// A USB serial adapter hands the chip's answers over only when its latency timer fires: 1 ms
// in low-latency mode, 16 ms by default, more behind some adapters and hubs. The handshake
// must still wake the boot ROM in its first cycle; a second cycle's sentence and pattern
// bytes would reach a ROM that already takes commands.
INSTANTIATE_TEST_SUITE_P(Rates, EndToEndWholeBurn,
                         ::testing::Values(WholeBurn{9600, 0, 0}, WholeBurn{9600, 1, 0},
                                           WholeBurn{9600, 2, 0}, WholeBurn{9600, 3, 0},
                                           WholeBurn{115200, 3, 0}, WholeBurn{9600, 3, 1},
                                           WholeBurn{9600, 3, 16}, WholeBurn{115200, 3, 40}),
                         [](const ::testing::TestParamInfo<WholeBurn>& param) {
                           return "Rom" + std::to_string(param.param.romRate) + "Burn" +
                                  std::to_string(param.param.burnRateList) + "Latency" +
                                  std::to_string(param.param.latencyMs) + "ms";
                         });

struct FaultCase {
  const char* name;
  void (*apply)(sim::PtyChipOptions&);
  uint32_t status;
  bool flashHoldsImage;
};

class EndToEndFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EndToEndFault, StatusOfTheFailingStep) {
  sim::PtyChipOptions options = SmallChipOptions();
  options.chip.startInLoader = true;
  GetParam().apply(options);
  const auto chip = StartChip(options);
  ASSERT_NE(chip, nullptr);
  const ChipBurnResult outcome =
      BurnInto(*chip, ImageBytes(20000), "9600", 3, !options.chip.startInLoader);
  EXPECT_EQ(outcome.status, GetParam().status);
  EXPECT_EQ(outcome.flashHoldsImage, GetParam().flashHoldsImage);
  // The finish command follows a successful stream and nothing else.
  EXPECT_EQ(outcome.finishArrived, GetParam().status == kBurnOk);
}

// The loader answers the third block of the stream with a reply code.
template <uint8_t kCode>
void ReplyAtThirdBlock(sim::PtyChipOptions& options) {
  options.chip.loader.replyCodeBlock = 2;
  options.chip.loader.replyCode = kCode;
}

// The chip starts in its boot ROM, which shows the fault.
template <bool sim::ChipOptions::*kFault>
void BootRomFault(sim::PtyChipOptions& options) {
  options.chip.startInLoader = false;
  options.chip.*kFault = true;
}

const FaultCase kFaults[] = {
    {"LoaderRunning", [](auto&) {}, kBurnOk, true},
    {"BusyHello", [](auto& o) { o.chip.loader.busyInsteadOfHello = true; }, 16, false},
    {"LoaderVersion11", [](auto& o) { o.chip.loader.helloMinor = 1; }, 10, false},
    {"EraseWait", [](auto& o) { o.chip.loader.eraseWait = 100; }, kBurnOk, true},
    {"BlockRejectedFiveTimes",
     [](auto& o) {
       o.chip.loader.rejectBlock = 3;
       o.chip.loader.rejectTimes = 5;
     },
     kBurnOk, true},
    {"Reply5", ReplyAtThirdBlock<5>, kBurnImageStreamFailed, false},
    {"Reply6", ReplyAtThirdBlock<6>, kBurnImageStreamFailed, false},
    {"Reply7", ReplyAtThirdBlock<7>, kBurnImageStreamFailed, false},
    {"FinalFailure", [](auto& o) { o.chip.loader.finalFailure = true; }, kBurnImageStreamFailed,
     true},
    {"FlashNotErased",
     [](auto& o) {
       o.chip.loader.skipErase = true;
       o.chip.flashFill = 0x3C;
     },
     kBurnImageStreamFailed, false},
    {"HangUpMidStream", [](auto& o) { o.wire.hangUpAfterBlocks = 5; }, kBurnImageStreamFailed,
     false},
    {"LineDeadAtTheHello", [](auto& o) { o.wire.toHost.hangUp = 1; }, 8, false},
    {"ChipStallsNowAndThen",
     [](auto& o) {
       o.wire.toChip.stall = 0.002;
       o.wire.toChip.stallMs = 30;
     },
     kBurnOk, true},
    {"AnswersBehindA40msAdapterTimer", [](auto& o) { o.wire.latencyMs = 40; }, kBurnOk, true},
    {"SilentChip", BootRomFault<&sim::ChipOptions::silent>, 0xB0006, false},
    {"NoHandshake", BootRomFault<&sim::ChipOptions::noHandshake>, 0xB0006, false},
    {"WrongEcho", BootRomFault<&sim::ChipOptions::wrongEcho>, 0xA0006, false},
    {"WrongChecksum", BootRomFault<&sim::ChipOptions::wrongChecksum>, 0xA0006, false},
};

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndFault, ::testing::ValuesIn(kFaults), CaseName());

// A line that corrupts and loses bytes on the way to the chip: the burn either succeeds with
// the flash equal to the image, or fails. It never reports a success it did not achieve.
// Against the C++ loader model and against our firmware on the emulated CPU.
struct NoisyLine {
  uint32_t seed;
  bool cpu;
};

class EndToEndNoisyLine : public ::testing::TestWithParam<NoisyLine> {};

TEST_P(EndToEndNoisyLine, NeverAWrongSuccess) {
  sim::PtyChipOptions options = SmallChipOptions();
  options.chip.startInLoader = true;
  if (GetParam().cpu) {
    testing::RunFirmwareOnCpu(options);
  }
  options.wire.toChip.corrupt = 0.00003;
  options.wire.toChip.lose = 0.00003;
  options.wire.seed = GetParam().seed;
  const auto chip = StartChip(options);
  ASSERT_NE(chip, nullptr);
  const ChipBurnResult outcome =
      BurnInto(*chip, ImageBytes(64 * 1024, GetParam().seed), "9600", 3, false);
  if (outcome.status == kBurnOk) {
    EXPECT_TRUE(outcome.flashHoldsImage);
    EXPECT_TRUE(outcome.finishArrived);
  } else {
    EXPECT_EQ(outcome.status, kBurnImageStreamFailed);
  }
  EXPECT_GT(chip->Stats().rejections + (outcome.status != kBurnOk ? 1 : 0), 0u)
      << "the line should have hurt at least one block";
}

INSTANTIATE_TEST_SUITE_P(Seeds, EndToEndNoisyLine,
                         ::testing::Values(NoisyLine{1, false}, NoisyLine{2, false},
                                           NoisyLine{3, false}, NoisyLine{1, true},
                                           NoisyLine{2, true}, NoisyLine{3, true}),
                         [](const ::testing::TestParamInfo<NoisyLine>& param) {
                           return std::string(param.param.cpu ? "Firmware" : "Model") + "Seed" +
                                  std::to_string(param.param.seed);
                         });

}  // namespace
}  // namespace tarvok
