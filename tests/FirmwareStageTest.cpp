// The boot stage and the loader's flash CRC, as built from firmware/, on the emulated ARM926
// of the simulated chip, driven byte by byte as the host drives them. Every byte the chip
// sends is recorded with the rate its UART ran at, and the recordings are compared whole.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/boot_stage_codes.h"
#include "firmware/loader_codes.h"
#include "sim/Chip.h"
#include "sim/CpuLoader.h"
#include "sim/Flash.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/PtyBurn.h"

namespace tarvok {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kPatience = std::chrono::seconds(20);
constexpr uint32_t kRomRate = 9600;

struct Sent {
  uint8_t byte;
  uint32_t rate;  // the chip UART's rate when it sent the byte
  bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& sent, std::ostream* out) {
  char text[32];
  std::snprintf(text, sizeof(text), "%02X@%u", sent.byte, sent.rate);
  *out << text;
}

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << path;
  return bytes;
}

uint32_t Crc32(const Bytes& bytes) {
  return static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

Bytes BigEndian(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The chip's RAM as the boot ROM leaves it, with `program` written at `address`.
Bytes RamWith(const Bytes& program, uint32_t address) {
  Bytes ram(address, 0);
  ram.insert(ram.end(), program.begin(), program.end());
  return ram;
}

// The emulated CPU started where the boot ROM's 0xA8 starts it, on a wire whose two ends run
// at their own rates: a byte crosses whole only when they agree.
class CpuOnWire {
 public:
  CpuOnWire(sim::Flash& flash, Bytes ram, uint32_t startAddress) {
    const sim::CpuLink link{&lock_, [this](Bytes& bytes) {
                              for (const uint8_t byte : bytes) {
                                sent_.push_back({byte, cpu_->Rate()});
                              }
                              changed_.notify_all();
                            }};
    cpu_ = std::make_unique<sim::CpuLoader>(flash, std::move(ram), startAddress, kRomRate, link,
                                            sim::CpuFaults{});
    Bytes none;
    cpu_->Start(none);
  }
  ~CpuOnWire() { cpu_->Halt(); }
  CpuOnWire(const CpuOnWire&) = delete;
  CpuOnWire& operator=(const CpuOnWire&) = delete;

  void Send(const Bytes& bytes, uint32_t hostRate) {
    std::lock_guard guard(lock_);
    Bytes none;
    for (const uint8_t byte : bytes) {
      cpu_->Receive(hostRate == cpu_->Rate() ? byte : sim::Garble(byte), none);
    }
  }
  // Waits until the chip has sent `count` bytes in all.
  bool WaitForSent(std::size_t count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kPatience, [&] { return sent_.size() >= count; });
  }
  // Waits until the chip's UART runs at `rate`: a host turns its own line round no faster.
  bool WaitForRate(uint32_t rate) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      {
        std::lock_guard guard(lock_);
        if (cpu_->Rate() == rate) {
          return true;
        }
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<Sent> SentSoFar() {
    std::lock_guard guard(lock_);
    return sent_;
  }
  std::string Fault() {
    std::lock_guard guard(lock_);
    return cpu_->Stats().cpuFault;
  }
  // Changes the flash under the running loader; `change` runs with the chip held.
  template <typename Change>
  void WithChipHeld(Change change) {
    std::lock_guard guard(lock_);
    change();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
  std::unique_ptr<sim::CpuLoader> cpu_;
};

// One step of the host: wait for the chip's UART to reach `chipRate` (0: do not wait), send
// `bytes` at `hostRate`, then wait until the chip has sent `expect` more bytes.
struct Step {
  uint32_t chipRate;
  uint32_t hostRate;
  Bytes bytes;
  std::size_t expect;
};

void Drive(CpuOnWire& wire, const std::vector<Step>& steps) {
  std::size_t total = wire.SentSoFar().size();
  for (const Step& step : steps) {
    if (step.chipRate != 0) {
      ASSERT_TRUE(wire.WaitForRate(step.chipRate)) << "the chip never ran at " << step.chipRate;
    }
    wire.Send(step.bytes, step.hostRate);
    total += step.expect;
    ASSERT_TRUE(wire.WaitForSent(total)) << "the chip sent " << wire.SentSoFar().size()
                                         << " bytes, not " << total << "; " << wire.Fault();
  }
}

std::vector<Sent> At(uint32_t rate, const Bytes& bytes) {
  std::vector<Sent> sent;
  for (const uint8_t byte : bytes) {
    sent.push_back({byte, rate});
  }
  return sent;
}

std::vector<Sent> Then(std::vector<Sent> first, const std::vector<Sent>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// --- The boot stage ---

constexpr uint8_t kOk = BOOT_STAGE_LOADER_OK;
constexpr uint8_t kRefused = BOOT_STAGE_REFUSED;

struct StageCase {
  const char* name;
  uint8_t code;
  uint32_t rate;                  // the rate of `code`, or the boot ROM's
  int64_t announcedLength;        // -1: the loader's own length
  std::size_t probes;             // probes before the loader
  int64_t damagedByte;            // -1: none; else the loader arrives with this byte changed
  std::vector<Sent> afterHeader;  // what the stage answers to D1 …, at the boot ROM's rate
  bool loads;                     // the stage takes the loader
  std::vector<Sent> afterLoader;  // what it answers to the loader's bytes
};

const Bytes kStageHello = {BOOT_STAGE_HELLO, BOOT_STAGE_VERSION};
const Bytes kLoaderHello = {LOADER_HELLO, LOADER_VERSION_MAJOR, LOADER_VERSION_MINOR};

class BootStage : public ::testing::TestWithParam<StageCase> {};

TEST_P(BootStage, BringsTheLoaderInAtTheBurnRate) {
  const StageCase& c = GetParam();
  const Bytes stage = ReadFile(TARVOK_FIRMWARE_BOOT_STAGE);
  ASSERT_EQ(stage.size(), static_cast<std::size_t>(BOOT_STAGE_MAX_BYTES));
  const Bytes loader = testing::FirmwareBlock();
  const uint32_t length = c.announcedLength < 0 ? static_cast<uint32_t>(loader.size())
                                                : static_cast<uint32_t>(c.announcedLength);
  Bytes arriving = loader;
  if (c.damagedByte >= 0) {
    arriving[static_cast<std::size_t>(c.damagedByte)] ^= 0x10;
  }
  sim::Flash flash(64 * 1024, 0xFF);
  CpuOnWire wire(flash, RamWith(stage, BOOT_STAGE_ADDRESS), BOOT_STAGE_ADDRESS);

  std::vector<Step> steps = {
      {0, kRomRate, {}, kStageHello.size()},
      {0, kRomRate,
       Join({{BOOT_STAGE_CMD_LOAD, c.code}, BigEndian(length), BigEndian(Crc32(loader))}),
       c.afterHeader.size()},
  };
  if (c.loads) {
    for (std::size_t k = 0; k < c.probes; ++k) {
      steps.push_back({c.rate, c.rate, {BOOT_STAGE_PROBE}, 1});
    }
    steps.push_back({c.rate, c.rate, arriving, c.afterLoader.size()});
  }
  const bool started = c.loads && c.afterLoader.back().byte == kOk;
  if (started) {
    steps.push_back({kRomRate, kRomRate, {BOOT_STAGE_GO}, kLoaderHello.size()});
  }
  Drive(wire, steps);

  std::vector<Sent> expected = Then(At(kRomRate, kStageHello), c.afterHeader);
  if (c.loads) {
    expected = Then(expected, At(c.rate, Bytes(c.probes, BOOT_STAGE_READY)));
    expected = Then(expected, c.afterLoader);
  }
  if (started) {
    expected = Then(expected, At(kRomRate, kLoaderHello));  // as if the boot ROM started it
  }
  EXPECT_EQ(wire.SentSoFar(), expected);
  EXPECT_EQ(wire.Fault(), "");
}

const StageCase kStageCases[] = {
    {.name = "At921600",
     .code = 1,
     .rate = 921600,
     .announcedLength = -1,
     .probes = 1,
     .damagedByte = -1,
     .afterHeader = At(kRomRate, {kOk}),
     .loads = true,
     .afterLoader = At(921600, {kOk})},
    // Every probe is answered; the loader's first byte ends the probing.
    {.name = "At115200AfterThreeProbes",
     .code = 4,
     .rate = 115200,
     .announcedLength = -1,
     .probes = 3,
     .damagedByte = -1,
     .afterHeader = At(kRomRate, {kOk}),
     .loads = true,
     .afterLoader = At(115200, {kOk})},
    // A code outside the table keeps the boot ROM's rate.
    {.name = "UnknownCodeKeepsTheRomRate",
     .code = 15,
     .rate = kRomRate,
     .announcedLength = -1,
     .probes = 1,
     .damagedByte = -1,
     .afterHeader = At(kRomRate, {kOk}),
     .loads = true,
     .afterLoader = At(kRomRate, {kOk})},
    {.name = "DamagedLoaderRefused",
     .code = 2,
     .rate = 460800,
     .announcedLength = -1,
     .probes = 1,
     .damagedByte = 1000,
     .afterHeader = At(kRomRate, {kOk}),
     .loads = true,
     .afterLoader = At(460800, {kRefused})},
    {.name = "EmptyLoaderRefused",
     .code = 1,
     .rate = 921600,
     .announcedLength = 0,
     .probes = 0,
     .damagedByte = -1,
     .afterHeader = At(kRomRate, {kRefused}),
     .loads = false,
     .afterLoader = {}},
    {.name = "LoaderBeyondTheRamRefused",
     .code = 1,
     .rate = 921600,
     .announcedLength = BOOT_STAGE_MAX_LOADER_BYTES + 1,
     .probes = 0,
     .damagedByte = -1,
     .afterHeader = At(kRomRate, {kRefused}),
     .loads = false,
     .afterLoader = {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, BootStage, ::testing::ValuesIn(kStageCases), testing::CaseName());

// --- The loader's flash CRC ---

constexpr uint32_t kFlashBytes = 1024 * 1024;

// E2 with no erase over [first, last]: the flash starts erased.
Bytes FlashParameters(uint32_t first, uint32_t last) {
  return Join({{LOADER_CMD_FLASH_PARAMETERS, 0}, BigEndian(first), BigEndian(last)});
}

// E3 with 1,024-byte blocks: the header with the image's first four bytes, then the rest as
// one block (the images here are shorter than 1,028 bytes) and its 16-bit sum.
std::vector<Step> Stream(const Bytes& image) {
  Bytes header = Join({{LOADER_CMD_STREAM_IMAGE}, BigEndian(1024)});
  header.insert(header.end(), image.begin(), image.begin() + 4);
  const Bytes rest(image.begin() + 4, image.end());
  uint32_t sum = 0;
  for (const uint8_t byte : rest) {
    sum += byte;
  }
  Bytes block = rest;
  block.push_back(static_cast<uint8_t>(sum >> 8));
  block.push_back(static_cast<uint8_t>(sum));
  return {{0, kRomRate, header, 2},  // k k
          {0, kRomRate, block, 3}};  // B9, then the trailer k k
}

struct CrcCase {
  const char* name;
  uint32_t preloadBytes;  // the flash holds this many bytes of a pattern before the loader runs
  bool parameters;        // E2 over [first, last] comes before E4
  uint32_t first;
  uint32_t last;
  uint32_t imageBytes;  // burned at `first` (0: none)
  int64_t flippedByte;  // -1: none; else this byte of the range reads changed afterwards
  uint8_t reply;        // to E4: k (then the CRC), or the failure code alone
};

class LoaderFlashCrc : public ::testing::TestWithParam<CrcCase> {};

TEST_P(LoaderFlashCrc, IsTheCrcOfTheFlashAsItReads) {
  const CrcCase& c = GetParam();
  sim::Flash flash(kFlashBytes, 0xFF);
  flash.Preload(testing::ImageBytes(c.preloadBytes, 7));
  CpuOnWire wire(flash, RamWith(testing::FirmwareBlock(), BOOT_STAGE_LOADER_ADDRESS),
                 BOOT_STAGE_LOADER_ADDRESS);
  std::vector<Step> steps = {{0, kRomRate, {}, kLoaderHello.size()}};
  Bytes expected = kLoaderHello;
  if (c.parameters) {
    steps.push_back({0, kRomRate, FlashParameters(c.first, c.last), 2});
    expected = Join({expected, {LOADER_ACK, 0}});  // k, erase wait 0
  }
  const Bytes image = testing::ImageBytes(c.imageBytes, c.first + c.imageBytes);
  if (c.imageBytes > 0) {
    const std::vector<Step> stream = Stream(image);
    steps.insert(steps.end(), stream.begin(), stream.end());
    expected = Join({expected,
                     {LOADER_ACK, LOADER_ACK},                           // the header
                     {LOADER_BLOCK_ACCEPTED, LOADER_ACK, LOADER_ACK}});  // the block, trailer
  }
  Drive(wire, steps);
  // The range as the flash reads now, changed where the case says so.
  const auto range = [&] {
    Bytes bytes;
    wire.WithChipHeld(
        [&] { bytes.assign(flash.Cells().begin() + c.first, flash.Cells().begin() + c.last + 1); });
    return bytes;
  };
  if (c.imageBytes > 0) {
    ASSERT_EQ(range(), image);
  }
  const Bytes before = c.reply == LOADER_ACK ? range() : Bytes{};
  if (c.flippedByte >= 0) {
    // A bit the flash loses after the burn: programming clears it without an erase.
    const auto at = c.first + static_cast<uint32_t>(c.flippedByte);
    const uint8_t was = before[static_cast<std::size_t>(c.flippedByte)];
    ASSERT_NE(was, 0) << "the case must pick a byte with a bit set";
    wire.WithChipHeld([&] { flash.Program(at, static_cast<uint8_t>(was & (was - 1))); });
  }
  const auto asked = std::chrono::steady_clock::now();
  Drive(wire, {{0, kRomRate, {LOADER_CMD_FLASH_CRC}, c.reply == LOADER_ACK ? 5u : 1u}});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  ::testing::Test::RecordProperty("crc_seconds", std::to_string(seconds));
  expected.push_back(c.reply);
  if (c.reply == LOADER_ACK) {
    const Bytes now = range();
    if (c.flippedByte >= 0) {
      ASSERT_NE(Crc32(now), Crc32(before));
    }
    expected = Join({expected, BigEndian(Crc32(now))});
  }
  EXPECT_EQ(wire.SentSoFar(), At(kRomRate, expected));
  EXPECT_EQ(wire.Fault(), "");
}

const CrcCase kCrcCases[] = {
    {.name = "NoParameters",
     .preloadBytes = 0,
     .parameters = false,
     .first = 0,
     .last = 0,
     .imageBytes = 0,
     .flippedByte = -1,
     .reply = LOADER_REPLY_NO_PARAMETERS},
    {.name = "BeyondTheFlash",
     .preloadBytes = 0,
     .parameters = true,
     .first = kFlashBytes - 8,
     .last = kFlashBytes,
     .imageBytes = 0,
     .flippedByte = -1,
     .reply = LOADER_REPLY_OUTSIDE_FLASH},
    {.name = "AfterABurn",
     .preloadBytes = 0,
     .parameters = true,
     .first = 0,
     .last = 999,
     .imageBytes = 1000,
     .flippedByte = -1,
     .reply = LOADER_ACK},
    // Partial words at both ends of the range.
    {.name = "UnalignedEnds",
     .preloadBytes = 0,
     .parameters = true,
     .first = 4097,
     .last = 4097 + 9,
     .imageBytes = 10,
     .flippedByte = -1,
     .reply = LOADER_ACK},
    {.name = "FlashChangedAfterTheBurn",
     .preloadBytes = 0,
     .parameters = true,
     .first = 0,
     .last = 99,
     .imageBytes = 100,
     .flippedByte = 57,
     .reply = LOADER_ACK},
    {.name = "LastByteChanged",
     .preloadBytes = 0,
     .parameters = true,
     .first = 3,
     .last = 3 + 20,
     .imageBytes = 21,
     .flippedByte = 20,
     .reply = LOADER_ACK},
    // The whole flash, as it was before the loader came; the time it took is recorded.
    {.name = "WholeFlash",
     .preloadBytes = kFlashBytes,
     .parameters = true,
     .first = 0,
     .last = kFlashBytes - 1,
     .imageBytes = 0,
     .flippedByte = -1,
     .reply = LOADER_ACK},
};

INSTANTIATE_TEST_SUITE_P(Cases, LoaderFlashCrc, ::testing::ValuesIn(kCrcCases),
                         testing::CaseName());

}  // namespace
}  // namespace tarvok
