// The simulated chip's boot stage and the loader's flash CRC-32 (0xE4), byte by byte over a
// wire that garbles every byte sent while the host's rate and the chip's differ.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sim/Chip.h"
#include "sim/ChipReport.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

constexpr uint32_t kRom = 9600;
constexpr uint32_t kFast = 921600;  // loader baud code 1

// What the host sends at `rate` and everything it then reads back.
struct Step {
  uint32_t rate;
  Bytes send;
  Bytes reads;
};

// Plays `steps` over `device`, behind which a chip answers.
void Play(FakeSerialDevice& device, const std::vector<Step>& steps) {
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const Step& step = steps[k];
    SCOPED_TRACE("step " + std::to_string(k));
    LineSettings line;
    line.baudRate = step.rate;
    ASSERT_TRUE(device.SetLineSettings(line));
    if (!step.send.empty()) {
      uint32_t accepted = 0;
      ASSERT_TRUE(
          device.Write(step.send.data(), static_cast<uint32_t>(step.send.size()), accepted));
      ASSERT_EQ(accepted, step.send.size());
    }
    Bytes got(device.InputWaiting());
    uint32_t received = 0;
    if (!got.empty()) {
      ASSERT_TRUE(device.Read(got.data(), static_cast<uint32_t>(got.size()), received));
    }
    EXPECT_EQ(got, step.reads);
  }
}

// The running application hears its reboot sentence, the boot ROM its handshake and a word
// written to 0x00000B00 (unless `download` is false), then 0xA8 starts the program there.
std::vector<Step> ToBootStage(Bytes startAnswer, bool download = true) {
  Bytes start = {0xA8, 0x00, 0x00, 0x0B, 0x00};  // echoed by the boot ROM
  start.insert(start.end(), startAnswer.begin(), startAnswer.end());
  const Bytes write = {0xAE, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x01,  // one word
                       0xEA, 0xFF, 0xFF, 0xFE};                               // echoed whole
  std::vector<Step> steps = {
      {kRom, {'$', 'P', 'V', 'Q', 'T', '7', '5', '*', '0', '1', 0x0D, 0x0A}, {}},
      {kRom, {0x90, 0x09, 0x60, 0x06}, {0x6F, 0xF6, 0x9F, 0xF9}},
      {kRom, write, write},
      {kRom, {0xA8, 0x00, 0x00, 0x0B, 0x00}, start},
  };
  if (!download) {
    steps.erase(steps.begin() + 2);
  }
  return steps;
}

const Bytes kHello = {0x53, 0x01};               // the stage's hello, version 1
const Bytes kLoaderHello = {0xB0, 0x01, 0x00};   // the loader's, once the stage started it
const Bytes kLoader = {0x11, 0x22, 0x33, 0x44};  // CRC-32 0x77F29DD1
// Load at code 1 (921600): length 4, CRC-32 0x77F29DD1.
const Bytes kLoad = {0xD1, 0x01, 0x00, 0x00, 0x00, 0x04, 0x77, 0xF2, 0x9D, 0xD1};

// The chip's options for a case: the defaults as `change` leaves them.
sim::ChipOptions Options(const std::function<void(sim::ChipOptions&)>& change) {
  sim::ChipOptions options;
  change(options);
  return options;
}

void Defaults(sim::ChipOptions&) {}

struct StageCase {
  const char* name;
  sim::ChipOptions options;
  Bytes startAnswer;        // what follows the boot ROM's echo of 0xA8
  std::vector<Step> steps;  // after the start
  bool loaderStarted;
  uint32_t loaderRate;   // when it started
  bool download = true;  // the boot ROM wrote the stage to 0xB00 before its start
};

TEST(ChipBootStage, Exchange) {
  const uint8_t k = 0x6B;
  const auto silent = [](sim::ChipOptions& o) { o.stageSilent = true; };
  const StageCase cases[] = {
      {"the loader comes in at 921600 and greets at the boot ROM's rate",
       Options(Defaults),
       kHello,
       {{kRom, kLoad, {k}},
        {kFast, {0x5A}, {0xA5}},
        {kFast, {0x5A, 0x5A}, {0xA5, 0xA5}},  // every probe is answered
        {kFast, kLoader, {k}},
        {kRom, {0xD5}, kLoaderHello},
        {kRom, {0xE4}, {0x07}}},  // the loader model runs: no flash parameters yet
       true,
       kFast},
      {"a code outside 1-14 keeps the boot ROM's rate",
       Options(Defaults),
       kHello,
       {{kRom, {0xD1, 0x0F, 0x00, 0x00, 0x00, 0x04, 0x77, 0xF2, 0x9D, 0xD1}, {k}},
        {kRom, {0x5A}, {0xA5}},
        {kRom, kLoader, {k}},
        {kRom, {0xD5}, kLoaderHello}},
       true,
       kRom},
      {"a damaged loader is refused; then silence",
       Options(Defaults),
       kHello,
       {{kRom, kLoad, {k}},
        {kFast, {0x5A}, {0xA5}},
        {kFast, {0x11, 0x22, 0x33, 0x45}, {0xB6}},
        {kRom, {0xD5}, {}},
        {kFast, {0xD5, 0x5A}, {}}},
       false,
       0},
      {"a length of 0 is refused; then silence",
       Options(Defaults),
       kHello,
       {{kRom, {0xD1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, {0xB6}},
        {kFast, {0x5A}, {}},
        {kRom, {0x5A, 0xD5}, {}}},
       false,
       0},
      {"a length above 62464 is refused",
       Options(Defaults),
       kHello,
       {{kRom, {0xD1, 0x01, 0x00, 0x00, 0xF4, 0x01, 0, 0, 0, 0}, {0xB6}}},
       false,
       0},
      {"62464 bytes are taken",
       Options(Defaults),
       kHello,
       {{kRom, {0xD1, 0x01, 0x00, 0x00, 0xF4, 0x00, 0, 0, 0, 0}, {k}}, {kFast, {0x5A}, {0xA5}}},
       false,
       0},
      {"bytes before the load command get no answer",
       Options(Defaults),
       kHello,
       {{kRom, {0x5A, 0xD5, 0xE4}, {}}, {kRom, kLoad, {k}}},
       false,
       0},
      {"what arrives garbled before the first probe is dropped; the loader follows a probe",
       Options(Defaults),
       kHello,
       {{kRom, kLoad, {k}},
        {kRom, {0x5A, 0x22, 0x33, 0x44}, {}},
        {kFast, {0x5A}, {0xA5}},
        {kFast, kLoader, {k}},
        {kRom, {0xD5}, {0xB0, 0x01, 0x00}}},
       true,
       921600},
      {"a go sent at the loader's rate arrives garbled and starts nothing",
       Options(Defaults),
       kHello,
       {{kRom, kLoad, {k}},
        {kFast, {0x5A}, {0xA5}},
        {kFast, kLoader, {k}},
        {kFast, {0xD5}, {}},
        {kRom, {0xD5}, kLoaderHello}},
       true,
       kFast},
      {"a silent stage: the boot ROM echoes the start, then nothing answers",
       Options(silent),
       {},
       {{kRom, kLoad, {}}, {kFast, {0x5A}, {}}, {kRom, {0x5A, 0xD5}, {}}},
       false,
       0},
      {"nothing downloaded to 0xB00: empty RAM answers nothing",
       Options(Defaults),
       {},
       {{kRom, kLoad, {}}, {kFast, {0x5A}, {}}, {kRom, {0x5A, 0xD5}, {}}},
       false,
       0,
       false},
      {"on the emulated CPU, a silent stage starts no CPU",
       Options([](sim::ChipOptions& o) {
         o.stageSilent = true;
         o.cpu = true;
       }),
       {},
       {{kRom, kLoad, {}}},
       false,
       0},
  };
  for (const StageCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    ChipOnWire wire(device, c.options);
    std::vector<Step> steps = ToBootStage(c.startAnswer, c.download);
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    Play(device, steps);
    const sim::BootStageStats stage = wire.chip.StageStats();
    EXPECT_TRUE(stage.started);
    EXPECT_EQ(stage.silent, c.options.stageSilent);
    EXPECT_EQ(stage.loaderStarted, c.loaderStarted);
    EXPECT_EQ(wire.chip.RunningLoader() != nullptr, c.loaderStarted);
    if (c.loaderStarted) {
      EXPECT_EQ(stage.loaderRate, c.loaderRate);
      EXPECT_EQ(wire.chip.Rate(), kRom);
    }
  }
}

// A 16-byte image 00 01 ... 0F burned in blocks of 6 after its 4 header bytes.
const Bytes kImage = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                      0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
std::vector<Step> Burn(Bytes trailer) {
  return {{kRom, {}, kLoaderHello},
          {kRom, {0xE2, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x0F}, {0x6B, 0x00}},  // erase [0, 0x0F]
          {kRom, {0xE3, 0, 0, 0, 6, 0x00, 0x01, 0x02, 0x03}, {0x6B, 0x6B}},
          {kRom, {0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x00, 0x27}, {0xB9}},
          {kRom, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x00, 0x4B}, trailer}};
}

struct CrcCase {
  const char* name;
  sim::ChipOptions options;
  std::vector<Step> steps;
  Bytes crcReply;  // the answer to 0xE4 after the steps
  Bytes flash;     // the flash's first bytes after them
};

TEST(ChipLoaderFlashCrc, AnswersFromTheFlash) {
  const Bytes ok = {0xB9, 0x6B, 0x6B};      // last block accepted; the stream went well
  const Bytes failed = {0xB9, 0x6B, 0xB6};  // ...the loader's read-back found a difference
  const Bytes bent = {0x00, 0x01, 0x02, 0x03, 0x05, 0x04, 0x06, 0x07,
                      0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  Bytes stuck = kImage;
  stuck[5] = 0xFF;
  const std::vector<uint8_t> digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const CrcCase cases[] = {
      {"without flash parameters: 7 alone",
       Options(Defaults),
       {{kRom, {}, kLoaderHello}},
       {0x07},
       Bytes(4, 0x00)},
      {"what the flash holds, not what was sent: 123456789 left there before",
       Options([&](sim::ChipOptions& o) { o.flashAtStart = digits; }),
       {{kRom, {}, kLoaderHello},
        {kRom, {0xE2, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x08}, {0x6B, 0x00}}},  // no erase
       {0x6B, 0xCB, 0xF4, 0x39, 0x26},
       digits},
      {"after a good burn: the image's CRC-32",
       Options(Defaults),
       Burn(ok),
       {0x6B, 0xCE, 0xCE, 0xE2, 0x88},
       kImage},
      {"a stuck cell at 5 keeps its erased 0xFF: another CRC-32",
       Options([](sim::ChipOptions& o) { o.stuckCell = 5; }),
       Burn(failed),
       {0x6B, 0xA5, 0xA2, 0xDD, 0x60},
       stuck},
      {"a wrong CRC-32: its lowest bit flipped",
       Options([](sim::ChipOptions& o) { o.loader.wrongCrc = true; }),
       Burn(ok),
       {0x6B, 0xCE, 0xCE, 0xE2, 0x89},
       kImage},
      {"block 0 bent: accepted, programmed, and the CRC-32 tells",
       Options([](sim::ChipOptions& o) { o.loader.bendBlock = 0; }),
       Burn(ok),
       {0x6B, 0x94, 0xE5, 0x71, 0x27},
       bent},
  };
  for (const CrcCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ChipOptions options = c.options;
    options.startInLoader = true;
    options.flashBytes = 8192;
    FakeSerialDevice device;
    ChipOnWire wire(device, options);
    std::vector<Step> steps = c.steps;
    steps.push_back({kRom, {0xE4}, c.crcReply});
    Play(device, steps);
    const std::vector<uint8_t>& cells = wire.chip.FlashMemory().Cells();
    EXPECT_EQ(Bytes(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(c.flash.size())),
              c.flash);
  }
}

// A block bent so that its sum still matches passes the loader's checks: every block is
// accepted, the flash holds what the loader accepted, and yet not the image.
TEST(ChipLoaderFlashCrc, BentBlockLeavesTheFlashDifferingFromTheImage) {
  sim::ChipOptions options;
  options.startInLoader = true;
  options.flashBytes = 8192;
  options.loader.bendBlock = 1;
  FakeSerialDevice device;
  ChipOnWire wire(device, options);
  Play(device, Burn({0xB9, 0x6B, 0x6B}));
  const sim::LoaderStats stats = wire.chip.RunningLoader()->Stats();
  EXPECT_EQ(stats.blocksAccepted, 2u);
  EXPECT_EQ(stats.rejections, 0u);
  EXPECT_TRUE(stats.streamOk);
  EXPECT_TRUE(wire.chip.FlashHoldsAcceptedImage());
  EXPECT_FALSE(wire.chip.FlashHolds(kImage));
  const sim::ImageCheck check = sim::CheckImage(wire.chip.FlashMemory().Cells(), kImage);
  EXPECT_FALSE(check.holds);
  EXPECT_EQ(check.firstDifference, 10u);  // 0A 0B became 0B 0A
  EXPECT_EQ(check.flashByte, 0x0B);
  EXPECT_EQ(check.imageByte, 0x0A);
}

}  // namespace
}  // namespace tarvok
