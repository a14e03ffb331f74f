#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "rom/RomTR7340.h"
#include "tests/support/RomOnWire.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

Bytes Pattern(uint32_t length) {
  Bytes data(length);
  for (uint32_t k = 0; k < length; ++k) {
    data[k] = static_cast<uint8_t>(k * 7 + k / 256 + 1);
  }
  return data;
}

// A boot ROM past its handshake behind a fake device, and the host's port to it.
struct RomPastHandshake {
  RomPastHandshake() { wire.rom.SkipHandshake(); }

  FakeSerialDevice device;
  RomOnWire wire{device};
  SerialPort port = OpenPort(device);
};

class RomCommands : public ::testing::Test, protected RomPastHandshake {
 protected:
  uint32_t WriteMemory(const Bytes& data) {
    return rom.WriteMemory(port, kLoaderAddress, data.data(), static_cast<uint32_t>(data.size()),
                           ProgressLog::OnStart, &log, ProgressLog::OnProgress, &log);
  }

  Rom_TR7340 rom{200, 20};
  ProgressLog log;
};

TEST_F(RomCommands, WriteMemoryOfThreeBytesOnTheWire) {
  const Bytes data = {0x11, 0x22, 0x33};
  EXPECT_EQ(WriteMemory(data), 0u);
  const Bytes expected = {
      0xA1,                    // command: write halfwords
      0x00, 0x00, 0x0C, 0x00,  // address 0xC00
      0x00, 0x00, 0x00, 0x02,  // halfword count
      0x22, 0x11,              // halfword 0x2211: the odd-offset byte first
      0x00, 0x33,              // last byte of an odd length, high byte zero
      0xA4,                    // command: checksum
      0x00, 0x00, 0x0C, 0x00,  // address
      0x00, 0x00, 0x00, 0x02,  // halfword count
  };
  EXPECT_EQ(device.Written(), expected);
  EXPECT_EQ(log.starts, 1u);
  EXPECT_EQ(log.reports, (std::vector<ProgressReport>{{66, 2, 3}, {100, 4, 3}}));
  EXPECT_EQ(Bytes(wire.rom.Ram().begin() + 0xC00, wire.rom.Ram().begin() + 0xC03), data);
}

struct LengthCase {
  uint32_t length;
  uint32_t blocks;
  uint32_t halfwords;
  size_t reports;
};

TEST_F(RomCommands, WriteMemoryBlocksWhileMoreThan256BytesRemain) {
  const LengthCase cases[] = {
      {1, 0, 1, 1},      {256, 0, 128, 30},  {257, 1, 1, 2},
      {512, 1, 128, 16}, {3136, 12, 32, 13}, {8728, 34, 12, 30},
  };
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.length);
    RomPastHandshake chip;
    ProgressLog progress;
    const Bytes data = Pattern(c.length);
    EXPECT_EQ(rom.WriteMemory(chip.port, kLoaderAddress, data.data(), c.length,
                              ProgressLog::OnStart, &progress, ProgressLog::OnProgress, &progress),
              0u);

    std::vector<size_t> expected = {1, 4, 4};
    expected.insert(expected.end(), c.blocks, 256);
    expected.insert(expected.end(), c.halfwords, 2);
    expected.insert(expected.end(), {1, 4, 4});
    EXPECT_EQ(WriteSizes(chip.device), expected);
    // Command, two parameters, each halfword and the checksum's parameters read back after
    // their pause; each block after 200 ms.
    const auto sleeps = chip.device.EventsOf(Kind::kSleep);
    EXPECT_EQ(std::count_if(sleeps.begin(), sleeps.end(), [](auto& e) { return e.value == 200; }),
              c.blocks);
    EXPECT_EQ(std::count_if(sleeps.begin(), sleeps.end(), [](auto& e) { return e.value == 50; }),
              c.halfwords);
    EXPECT_EQ(std::count_if(sleeps.begin(), sleeps.end(), [](auto& e) { return e.value == 100; }),
              4);
    EXPECT_EQ(
        Bytes(chip.wire.rom.Ram().begin() + 0xC00, chip.wire.rom.Ram().begin() + 0xC00 + c.length),
        data);
    ASSERT_EQ(progress.reports.size(), c.reports);
    EXPECT_EQ(progress.reports.back().percent, 100);
    EXPECT_EQ(progress.reports.back().total, c.length);
    EXPECT_EQ(std::count_if(progress.reports.begin(), progress.reports.end(),
                            [](auto& r) { return r.percent == 100; }),
              1);
  }
}

// A boot stage goes down as whole blocks: no halfword tail with its 50 ms pauses.
TEST_F(RomCommands, WriteBlocksSendsOnlyWholeBlocks) {
  const Bytes stage = Pattern(256);
  EXPECT_EQ(rom.WriteBlocks(port, 0xB00, stage.data(), 256), 0u);
  EXPECT_EQ(WriteSizes(device), (std::vector<size_t>{1, 4, 4, 256, 1, 4, 4}));
  const Bytes written = device.Written();
  const Bytes header(written.begin(), written.begin() + 9);
  EXPECT_EQ(header, (Bytes{
                        0xA1,                    // write halfwords
                        0x00, 0x00, 0x0B, 0x00,  // address 0xB00
                        0x00, 0x00, 0x00, 0x80,  // 128 halfwords
                    }));
  EXPECT_EQ(written[9], stage[1]);  // pairs travel swapped, as in WriteMemory
  EXPECT_EQ(Bytes(wire.rom.Ram().begin() + 0xB00, wire.rom.Ram().begin() + 0xC00), stage);

  const struct {
    const char* name;
    uint32_t length;
    uint32_t status;
  } refused[] = {{"nothing", 0, 1}, {"not whole blocks", 200, 1}, {"a block and a byte", 257, 1}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    RomPastHandshake chip;
    const Bytes data = Pattern(c.length);
    EXPECT_EQ(rom.WriteBlocks(chip.port, 0xB00, data.data(), c.length), c.status);
    EXPECT_TRUE(chip.device.Written().empty());
  }
  RomPastHandshake offChecksum;
  offChecksum.wire.rom.wrongChecksum = true;
  EXPECT_EQ(rom.WriteBlocks(offChecksum.port, 0xB00, stage.data(), 256), 10u);
}

struct DownloadProgressCase {
  uint32_t length;
  ProgressReport first;
  std::vector<uint8_t> percents;
};

TEST(RomDownload, ReportsEachThirtiethOnceAsItIsReached) {
  const DownloadProgressCase cases[] = {
      // Our firmware's block: a block of 256 bytes passes more than one thirtieth.
      {3136, {6, 256, 3136}, {6, 13, 23, 30, 40, 46, 56, 63, 73, 80, 86, 96, 100}},
      // The 8,728-byte block earlier versions sent.
      {8728, {3, 512, 8728}, {3,  6,  10, 13, 16, 20, 23, 26, 30, 33, 36, 40, 43, 46, 50,
                              53, 56, 60, 63, 66, 70, 73, 76, 80, 83, 86, 90, 93, 96, 100}},
  };
  for (const DownloadProgressCase& c : cases) {
    SCOPED_TRACE(c.length);
    RomPastHandshake chip;
    Rom_TR7340 rom{200, 20};
    ProgressLog log;
    const Bytes data = Pattern(c.length);
    EXPECT_EQ(rom.WriteMemory(chip.port, kLoaderAddress, data.data(), c.length,
                              ProgressLog::OnStart, &log, ProgressLog::OnProgress, &log),
              0u);
    ASSERT_EQ(log.reports.size(), c.percents.size());
    EXPECT_EQ(log.reports.front(), c.first);
    EXPECT_EQ(log.reports.back(), (ProgressReport{100, c.length, c.length}));
    for (size_t k = 0; k < c.percents.size(); ++k) {
      EXPECT_EQ(log.reports[k].percent, c.percents[k]) << k;
    }
    // The first block goes out with every pair swapped.
    const auto writes = chip.device.EventsOf(Kind::kWrite);
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(Bytes(writes[3].bytes.begin(), writes[3].bytes.begin() + 4),
              (Bytes{data[1], data[0], data[3], data[2]}));
  }
}

TEST_F(RomCommands, WriteMemoryFailures) {
  // Nothing to write: nothing on the wire, no callback.
  EXPECT_EQ(rom.WriteMemory(port, kLoaderAddress, nullptr, 10, ProgressLog::OnStart, &log,
                            ProgressLog::OnProgress, &log),
            1u);
  EXPECT_EQ(WriteMemory({}), 1u);
  EXPECT_TRUE(device.Written().empty());
  EXPECT_EQ(log.starts, 0u);

  // A block echo that differs in one byte: 8, and nothing further is sent.
  wire.rom.corruptNextDataEcho = true;
  EXPECT_EQ(WriteMemory(Pattern(600)), 8u);
  EXPECT_EQ(WriteSizes(device), (std::vector<size_t>{1, 4, 4, 256}));
}

TEST_F(RomCommands, WrongChecksumAfterTheWholeDownload) {
  wire.rom.wrongChecksum = true;
  EXPECT_EQ(WriteMemory(Pattern(300)), 10u);
  ASSERT_FALSE(log.reports.empty());
  EXPECT_EQ(log.reports.back(), (ProgressReport{100, 300, 300}));
  EXPECT_EQ(device.Written().at(device.Written().size() - 9), kRomChecksum);
}

TEST_F(RomCommands, WriteMemoryStepCodes) {
  struct StepCase {
    const char* name;
    size_t failingWriteCall;  // which OS write fails, counted from 1
    uint32_t status;
  };
  const StepCase cases[] = {
      {"command", 1, 2}, {"address", 2, 3},  {"count", 3, 4},
      {"block", 4, 6},   {"halfword", 5, 5}, {"checksum command", 7, 9},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    RomPastHandshake chip;
    // Writes of a 259-byte download: A1, address, count, block, halfword, halfword, A4, ...
    chip.device.failWriteNumber = static_cast<uint32_t>(c.failingWriteCall);
    const Bytes data = Pattern(259);
    EXPECT_EQ(rom.WriteMemory(chip.port, kLoaderAddress, data.data(), 259, nullptr, nullptr,
                              nullptr, nullptr),
              c.status);
  }
}

TEST_F(RomCommands, PrimitivesCodes) {
  // A word sent without verification is neither paused for nor read back.
  EXPECT_EQ(rom.SendWord(port, 0x01020304, false), 0u);
  EXPECT_EQ(device.ReadCalls(), 0u);
  EXPECT_EQ(device.Sleeps(), 0u);

  // A silent line: GetWord leaves 0 and fails.
  FakeSerialDevice silent;
  SerialPort quiet = OpenPort(silent);
  uint32_t word = 0xFFFFFFFF;
  EXPECT_EQ(rom.GetWord(quiet, word), 1u);
  EXPECT_EQ(word, 0u);
  EXPECT_EQ(rom.SendCommand(quiet, kRomExecute, nullptr), 2u);
  EXPECT_EQ(rom.SendHalfword(quiet, 0x1234, true), 2u);
  silent.failWrite.remaining = 1;
  EXPECT_EQ(rom.SendCommand(quiet, kRomExecute, nullptr), 1u);

  // A wrong echo of the command byte, returned to the caller.
  silent.PushInput({0xA9});
  uint8_t echo = 0;
  EXPECT_EQ(rom.SendCommand(quiet, kRomExecute, &echo), 3u);
  EXPECT_EQ(echo, 0xA9);
  silent.PushInput({0x12, 0x35});
  EXPECT_EQ(rom.SendHalfword(quiet, 0x1234, true), 3u);
}

TEST_F(RomCommands, ArrayCommandsRoundTrip) {
  const uint16_t halfwords[] = {0x1234, 0xABCD, 0x0001};
  EXPECT_EQ(rom.WriteHalfwords(port, 0x100, halfwords, 3), 0u);
  uint16_t readBack[3] = {};
  EXPECT_EQ(rom.ReadHalfwords(port, 0x100, readBack, 3), 0u);
  EXPECT_EQ(std::vector<uint16_t>(readBack, readBack + 3),
            std::vector<uint16_t>(halfwords, halfwords + 3));
  EXPECT_EQ(wire.rom.Ram()[0x100], 0x34);  // little-endian in chip memory

  const uint32_t words[] = {0xDEADBEEF, 0x00C0FFEE};
  EXPECT_EQ(rom.WriteWords(port, 0x200, words, 2), 0u);
  uint32_t wordsBack[2] = {};
  EXPECT_EQ(rom.ReadWords(port, 0x200, wordsBack, 2), 0u);
  EXPECT_EQ(wordsBack[0], 0xDEADBEEFu);
  EXPECT_EQ(wordsBack[1], 0x00C0FFEEu);

  uint16_t sum = 0;
  EXPECT_EQ(rom.Checksum(port, 0x100, 3, sum), 0u);
  EXPECT_EQ(sum, 0x1234 ^ 0xABCD ^ 0x0001);

  EXPECT_EQ(rom.Execute(port, 0xC00, true), 0u);
  EXPECT_TRUE(wire.rom.Started());
  EXPECT_EQ(wire.rom.StartAddress(), 0xC00u);
}

// Higher operations reach the lower ones through the virtual table.
class CountingRom : public Rom_TR7340 {
 public:
  CountingRom() : Rom_TR7340(200, 20) {}
  uint32_t PutWord(SerialPort& port, uint32_t value) override {
    ++putWords;
    return Rom_TR7340::PutWord(port, value);
  }
  uint32_t PutHalfword(SerialPort& port, uint16_t value) override {
    ++putHalfwords;
    return Rom_TR7340::PutHalfword(port, value);
  }
  uint32_t putWords = 0;
  uint32_t putHalfwords = 0;
};

TEST(RomLayers, HigherOperationsCallLowerOnesVirtually) {
  RomPastHandshake chip;
  CountingRom rom;
  const Bytes data = Pattern(5);
  EXPECT_EQ(rom.WriteMemory(chip.port, 0xC00, data.data(), 5, nullptr, nullptr, nullptr, nullptr),
            0u);
  EXPECT_EQ(rom.putWords, 4u);      // address and count, twice
  EXPECT_EQ(rom.putHalfwords, 3u);  // three data halfwords
}

}  // namespace
}  // namespace tarvok
