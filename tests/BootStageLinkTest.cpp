// The host's side of the boot stage against scripted answers: the bytes on the wire, the rate
// changes around them, and what each silence or wrong answer ends as.
#include <gtest/gtest.h>

#include <vector>

#include "burn/BootStageLink.h"
#include "burn/Crc32.h"
#include "burn/LoaderDeclaration.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

const Bytes kLoader = {0x11, 0x22, 0x33, 0x44, 0x55};

StageLoad LoadAt921600() {
  StageLoad load;
  load.loader = kLoader.data();
  load.length = static_cast<uint32_t>(kLoader.size());
  load.baudCode = 1;
  load.romRate = 9600;
  return load;
}

std::vector<uint32_t> RatesSet(const FakeSerialDevice& device) {
  std::vector<uint32_t> rates;
  for (const auto& e : device.EventsOf(Kind::kSetLine)) {
    rates.push_back(e.value);
  }
  return rates;
}

TEST(BootStageLink, BringsTheLoaderInAtTheBurnRate) {
  FakeSerialDevice device;
  // Each OS read: the hello's two bytes, k, one probe answered late (the second probe's answer
  // arrives behind the loader), the verdict.
  device.ScriptReads({{0x53}, {0x01}, {0x6B}, {}, {0xA5}, {0xA5}, {0x6B}});
  SerialPort port = OpenPort(device);
  EXPECT_EQ(BootStageLink().BringLoaderIn(port, LoadAt921600()), kStageOk);
  const uint32_t crc = Crc32(kLoader.data(), kLoader.size());
  ASSERT_EQ(crc, 0x38A05A29u) << std::hex << crc;
  const Bytes expected = {
      0xD1,                          // load command
      0x01,                          // baud code 1: 921600
      0x00, 0x00, 0x00, 0x05,        // the loader's length
      0x38, 0xA0, 0x5A, 0x29,        // its CRC-32
      0x5A,                          // probe at 921600: unanswered
      0x5A,                          // probe: answered A5
      0x11, 0x22, 0x33, 0x44, 0x55,  // the loader
      0xD5,                          // back at 9600: start it
  };
  EXPECT_EQ(device.Written(), expected);
  EXPECT_EQ(RatesSet(device), (std::vector<uint32_t>{921600, 9600}));
}

struct StageFailureCase {
  const char* name;
  std::vector<Bytes> reads;
  uint32_t result;
  size_t bytesWritten;
};

TEST(BootStageLink, SilencesAndWrongAnswers) {
  const Bytes tenSilences(10, 0);
  const StageFailureCase cases[] = {
      {.name = "no hello", .reads = {{}}, .result = kStageNoHello, .bytesWritten = 0},
      {.name = "the loader's hello instead",
       .reads = {{0xB0}},
       .result = kStageNotAHello,
       .bytesWritten = 0},
      {.name = "another version",
       .reads = {{0x53}, {0x02}},
       .result = kStageNotAHello,
       .bytesWritten = 0},
      {.name = "load command unanswered",
       .reads = {{0x53}, {0x01}, {}},
       .result = kStageNoAck,
       .bytesWritten = 10},
      {.name = "length refused",
       .reads = {{0x53}, {0x01}, {0xB6}},
       .result = kStageRefusedLength,
       .bytesWritten = 10},
      {.name = "ten probes unanswered",
       .reads = {{0x53}, {0x01}, {0x6B}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}},
       .result = kStageNotReady,
       .bytesWritten = 20},
      {.name = "a probe answered wrongly, then nothing",
       .reads = {{0x53}, {0x01}, {0x6B}, {0x5B}, {}, {}, {}, {}, {}, {}, {}, {}, {}},
       .result = kStageNotReady,
       .bytesWritten = 20},
      {.name = "loader damaged on the way",
       .reads = {{0x53}, {0x01}, {0x6B}, {0xA5}, {0xB6}},
       .result = kStageLoaderDamaged,
       .bytesWritten = 16},
      {.name = "no verdict",
       .reads = {{0x53}, {0x01}, {0x6B}, {0xA5}, {}, {}, {}, {}},
       .result = kStageNoVerdict,
       .bytesWritten = 16},
  };
  for (const StageFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.ScriptReads(c.reads);
    SerialPort port = OpenPort(device);
    EXPECT_EQ(BootStageLink().BringLoaderIn(port, LoadAt921600()), c.result);
    EXPECT_EQ(device.Written().size(), c.bytesWritten);
    // Nothing starts the loader unless the stage said it arrived whole.
    EXPECT_TRUE(device.Written().empty() || device.Written().back() != 0xD5);
  }
}

struct DeclarationCase {
  const char* name;
  Bytes tail;
  bool bootStage;
  bool flashCrc;
};

TEST(LoaderDeclaration, OnlyAWholeDeclarationCounts) {
  const Bytes magic = {'T', 'V', 'K', 'L', 'D', 'E', 'C', 'L'};
  auto declaration = [&](uint8_t version, uint8_t features, uint8_t lastByte) {
    Bytes tail = magic;
    tail.insert(tail.end(), {version, features, 0, 0, 0, 0, 0, lastByte});
    return tail;
  };
  const DeclarationCase cases[] = {
      {"both", declaration(1, 0x03, 0), true, true},
      {"read-back only", declaration(1, 0x02, 0), false, true},
      {"another version", declaration(2, 0x03, 0), false, false},
      {"reserved byte set", declaration(1, 0x03, 1), false, false},
      {"no declaration", Bytes(16, 0x00), false, false},
      {"too short for one", Bytes(magic.begin(), magic.end()), false, false},
  };
  for (const DeclarationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes loader = {0xEA, 0x00, 0x00, 0x00};
    loader.insert(loader.end(), c.tail.begin(), c.tail.end());
    const LoaderAdditions additions =
        DeclaredAdditions(loader.data(), static_cast<uint32_t>(loader.size()));
    EXPECT_EQ(additions.bootStage, c.bootStage);
    EXPECT_EQ(additions.flashCrc, c.flashCrc);
  }
  // The declaration is the image's last bytes, not anywhere in it.
  Bytes moved = declaration(1, 0x03, 0);
  moved.push_back(0x00);
  EXPECT_FALSE(DeclaredAdditions(moved.data(), static_cast<uint32_t>(moved.size())).flashCrc);
}

}  // namespace
}  // namespace tarvok
