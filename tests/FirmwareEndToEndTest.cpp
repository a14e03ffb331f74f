// Whole burns through our loader firmware running on the emulated ARM926 of the simulated
// chip (tarvok-sim --cpu), over a real pseudo-terminal, the flash compared byte for byte.
#include <gtest/gtest.h>

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

// Bytes the chip's UART receives before the first block, with one answered probe and no echo
// test: E1 code repeats, B0, k, E2 and its 9 bytes, E3 and its 8 bytes.
constexpr uint64_t kFirstBlockByte = 3 + 1 + 1 + 10 + 9;
constexpr uint64_t kBlockOnWire = 1024 + 2;

uint64_t ByteOfBlock(uint32_t block, uint32_t offset) {
  return kFirstBlockByte + block * kBlockOnWire + offset;
}

struct FirmwareCase {
  const char* name;
  uint32_t imageBytes;
  int32_t burnRateList;
  bool download;  // the loader goes down through the boot ROM first
  void (*apply)(sim::PtyChipOptions&, BurnSetup&);
  uint32_t status;
  bool flashHoldsImage;
  uint32_t probes;
  uint32_t rejections;
  uint32_t hardResyncs;
};

class FirmwareBurn : public ::testing::TestWithParam<FirmwareCase> {};

TEST_P(FirmwareBurn, FlashHoldsTheImage) {
  const FirmwareCase& c = GetParam();
  sim::PtyChipOptions options;
  options.chip.flashBytes = 2 * 1024 * 1024;
  testing::RunFirmwareOnCpu(options);
  options.chip.startInLoader = !c.download;
  BurnSetup setup;
  setup.burnRateList = c.burnRateList;
  setup.download = c.download;
  setup.loader = testing::FirmwareBlock();
  if (c.apply != nullptr) {
    c.apply(options, setup);
  }
  const auto chip = StartChip(options);
  ASSERT_NE(chip, nullptr);
  const ChipBurnResult outcome =
      testing::BurnInto(*chip, ImageBytes(c.imageBytes, c.imageBytes), setup);
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.flashHoldsImage, c.flashHoldsImage);
  const sim::LoaderStats stats = chip->Stats();
  EXPECT_EQ(stats.cpuFault, "");
  EXPECT_EQ(stats.probes, c.probes);
  EXPECT_EQ(stats.rejections, c.rejections);
  EXPECT_EQ(stats.hardResyncs, c.hardResyncs);
  if (c.status == kBurnOk) {
    EXPECT_TRUE(chip->WaitForBurnEnd(3000));
  }
}

const FirmwareCase kFirmwareCases[] = {
    // Images shorter than the header's four bytes, one header only, one block, one block and
    // a byte; each burn rate once.
    {"TwoBytes", 2, 0, false, nullptr, kBurnOk, true, 1, 0, 0},
    {"ThreeBytes", 3, 1, false, nullptr, kBurnOk, true, 1, 0, 0},
    {"FourBytes", 4, 2, false, nullptr, kBurnOk, true, 1, 0, 0},
    {"OneBlock", 1024, 3, false, nullptr, kBurnOk, true, 1, 0, 0},
    {"OneBlockAndAByte", 1025, 0, false, nullptr, kBurnOk, true, 1, 0, 0},
    {"OneMiBAfterDownload", 1024 * 1024, 3, true, nullptr, kBurnOk, true, 1, 0, 0},
    {"EchoTest", 5000, 2, false, [](auto&, auto& s) { s.echoRepeats = 2; }, kBurnOk, true, 1, 0, 0},
    {"SumDamaged", 9000, 3, false,
     [](auto& o, auto&) { o.chip.cpuFaults.flipReceivedBytes = {ByteOfBlock(1, 1024)}; }, kBurnOk,
     true, 1, 1, 0},
    // Four rejections in a row: three plain re-synchronisations, then one after 0xB6.
    {"BlockRejectedFourTimes", 9000, 3, false,
     [](auto& o, auto&) {
       for (uint64_t k = 0; k < 4; ++k) {
         o.chip.cpuFaults.flipReceivedBytes.push_back(ByteOfBlock(2, 10) + k * (kBlockOnWire + 1));
       }
     },
     kBurnOk, true, 1, 4, 1},
    // The chip's UART keeps the boot ROM's rate: no probe comes through, and both sides carry
    // on at the old rate.
    {"NoProbeAnswered", 9000, 3, false,
     [](auto& o, auto&) { o.chip.cpuFaults.uartIgnoresDivisor = true; }, kBurnOk, true, 0, 0, 0},
    // The image is larger than the flash: the block that would leave it is answered with 5.
    {"BeyondTheFlash", 70000, 3, false, [](auto& o, auto&) { o.chip.flashBytes = 64 * 1024; },
     kBurnImageStreamFailed, false, 1, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, FirmwareBurn, ::testing::ValuesIn(kFirmwareCases), CaseName());

// What the host downloads runs, whatever it is: a block that is not a loader fails as on a
// chip (no hello), and the simulated chip names the CPU's fault. Zeros run on through RAM
// (as a placeholder block would) until the CPU fetches from beyond it; 0xFF is not an
// instruction. Short blocks keep the boot ROM's download brief.
struct ForeignLoader {
  const char* name;
  Bytes bytes;
};

class FirmwareForeignLoader : public ::testing::TestWithParam<ForeignLoader> {};

TEST_P(FirmwareForeignLoader, NoHelloAndTheCpuFault) {
  sim::PtyChipOptions options = SmallChipOptions();
  options.chip.cpu = true;
  const auto chip = StartChip(options);
  ASSERT_NE(chip, nullptr);
  BurnSetup setup;
  setup.loader = GetParam().bytes;
  const ChipBurnResult outcome = testing::BurnInto(*chip, ImageBytes(5000), setup);
  EXPECT_EQ(outcome.status, 8u);  // no hello
  EXPECT_NE(chip->Stats().cpuFault, "");
}

INSTANTIATE_TEST_SUITE_P(Loaders, FirmwareForeignLoader,
                         ::testing::Values(ForeignLoader{"Zeros", Bytes(260, 0x00)},
                                           ForeignLoader{"Undefined", Bytes(260, 0xFF)}),
                         CaseName());

}  // namespace
}  // namespace tarvok
