#include <gtest/gtest.h>

#include <vector>

#include "burn/LoaderLink.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

// A chip whose loader already runs and has said its hello (consumed here).
sim::ChipOptions LoaderRunning() {
  sim::ChipOptions options;
  options.startInLoader = true;
  options.flashBytes = 256 * 1024;
  return options;
}

void SkipHello(FakeSerialDevice& device) {
  SerialPort port = OpenPort(device);
  LoaderHello hello;
  ASSERT_EQ(LoaderLink().ReadHello(port, &hello), 0u);
}

struct HelloCase {
  const char* name;
  Bytes input;
  uint32_t result;
  uint8_t major, minor;
  uint32_t osReads;
};

TEST(LoaderLinkReadHello, Answers) {
  const HelloCase cases[] = {
      {"version 1.0", {0xB0, 0x01, 0x00}, 0, 1, 0, 2},
      {"version 1.1", {0xB0, 0x01, 0x01}, 10, 1, 1, 2},
      {"busy: nothing more is read", {0x1C, 0x01, 0x00}, 16, 0, 0, 1},
      {"not a hello", {0x55}, 9, 0, 0, 1},
      {"silence", {}, 8, 0, 0, 1},
      {"version missing", {0xB0}, 8, 0, 0, 2},
  };
  for (const HelloCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.PushInput(c.input);
    SerialPort port = OpenPort(device);
    LoaderHello hello;
    hello.reserved1 = 0xDEAD;
    EXPECT_EQ(LoaderLink().ReadHello(port, &hello), c.result);
    EXPECT_EQ(hello.started, 1);
    EXPECT_EQ(hello.major, c.major);
    EXPECT_EQ(hello.minor, c.minor);
    EXPECT_EQ(hello.reserved1, 0u);
    EXPECT_EQ(device.ReadCalls(), c.osReads);
    EXPECT_TRUE(device.Written().empty());
  }
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  EXPECT_EQ(LoaderLink().ReadHello(port, nullptr), 2u);
}

TEST(LoaderLinkSwitchBaud, ExchangeWithEchoTest) {
  FakeSerialDevice device;
  ChipOnWire wire(device, LoaderRunning());
  SkipHello(device);
  SerialPort port = OpenPort(device);
  EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 2), 0u);
  const Bytes expected = {
      0xE1, 0x01, 0x02,  // switch baud: code 1 (921600), echo repeats 2
      0xB0,              // probe, echoed at the new rate
      0x6B,              // k, answered with k
      0x00, 0x00, 0x01, 0x01, 0x02, 0x02, 0x03, 0x03, 0x04, 0x04, 0x05,
      0x05, 0x06, 0x06, 0x07, 0x07, 0x08, 0x08, 0x09, 0x09, 0x0A, 0x0A,  // echo test
  };
  EXPECT_EQ(device.Written(), expected);
  EXPECT_EQ(device.BaudRate(), 921600u);
  EXPECT_EQ(wire.chip.RunningLoader()->Stats().echoTestBytes, 22u);
  // The rate change's quiet guards, then 100 ms pass at the new rate before the first probe.
  const auto sleeps = device.EventsOf(Kind::kSleep);
  ASSERT_EQ(sleeps.size(), 3u);
  EXPECT_EQ(sleeps[2].value, 100u);
}

struct SwitchCase {
  const char* name;
  uint8_t code;
  uint32_t firstEchoedProbe;
  uint32_t result;
  Bytes wire;
};

TEST(LoaderLinkSwitchBaud, CodesAndProbes) {
  const SwitchCase cases[] = {
      {"code 0 is refused", 0, 1, 1, {}},
      {"code 15 is refused", 15, 1, 1, {}},
      {"only the third probe is echoed", 4, 3, 0, {0xE1, 0x04, 0x00, 0xB0, 0xB0, 0xB0, 0x6B}},
      {"no probe echoed within ten",
       2,
       11,
       7,
       {0xE1, 0x02, 0x00, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0}},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    sim::ChipOptions options = LoaderRunning();
    options.loader.firstEchoedProbe = c.firstEchoedProbe;
    ChipOnWire wire(device, options);
    SkipHello(device);
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, c.code, 0), c.result);
    EXPECT_EQ(device.Written(), c.wire);
  }
}

TEST(LoaderLinkSwitchBaud, Failures) {
  {
    SCOPED_TRACE("acknowledgement is not k");
    FakeSerialDevice device;
    device.PushInput({0x00});
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 0), 4u);
    EXPECT_EQ(device.BaudRate(), 9600u);
  }
  {
    SCOPED_TRACE("no acknowledgement");
    FakeSerialDevice device;
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 0), 3u);
  }
  {
    SCOPED_TRACE("the port refuses the rate");
    FakeSerialDevice device;
    device.PushInput({0x6B});
    device.failSetLine.remaining = 1;
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 0), 5u);
  }
  {
    SCOPED_TRACE("second acknowledgement missing after 51 tries");
    FakeSerialDevice device;
    device.SetResponder([](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      if (bytes[0] == 0xE1) {
        d.PushInput({0x6B});
      } else if (bytes[0] == 0xB0) {
        d.PushInput({0xB0}, 1000);  // after the purge of the rate change
      }
    });
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 0), 10u);
    EXPECT_EQ(device.Sleeps(), 2u + 1u + 50u);  // the rate change's guards, the settle, idles
  }
  {
    SCOPED_TRACE("echo test answered wrong");
    FakeSerialDevice device;
    device.SetResponder([](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      const uint8_t b = bytes[0];
      d.PushInput({static_cast<uint8_t>(b == 0xE1 ? 0x6B : b == 0x03 ? 0x13 : b)}, 1000);
    });
    SerialPort port = OpenPort(device);
    EXPECT_EQ(LoaderLink().SwitchBaud(port, 1, 1), 12u);
    EXPECT_EQ(device.Written().back(), 0x03);
  }
}

TEST(LoaderLinkFlashParameters, WireAndEraseWait) {
  FakeSerialDevice device;
  sim::ChipOptions options = LoaderRunning();
  options.loader.eraseWait = 0x20;
  ChipOnWire wire(device, options);
  SkipHello(device);
  SerialPort port = OpenPort(device);
  auto image = MakeImage(ImageBytes(100000));
  EXPECT_EQ(LoaderLink().SetFlashParameters(port, image.get()), 0u);
  const Bytes expected = {
      0xE2, 0x01,              // flash parameters, erase flag
      0x00, 0x00, 0x00, 0x00,  // start address
      0x00, 0x01, 0x86, 0x9F,  // end address 99999
  };
  EXPECT_EQ(device.Written(), expected);
  EXPECT_EQ(WriteSizes(device), (std::vector<size_t>{2, 4, 4}));
  EXPECT_EQ(image->eraseWait, 0x20);
  EXPECT_TRUE(wire.chip.RunningLoader()->Stats().erased);
}

TEST(LoaderLinkFlashParameters, AddressesLoseTheirUpperBits) {
  FakeSerialDevice device;
  device.PushInput({0x6B, 0x00});
  SerialPort port = OpenPort(device);
  FlashImage image;
  image.startAddress = 0x08000010;
  image.endAddress = 0xF8000020;
  image.eraseFlag = 0x0101;
  EXPECT_EQ(LoaderLink().SetFlashParameters(port, &image), 0u);
  EXPECT_EQ(device.Written(), (Bytes{0xE2, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20}));
}

TEST(LoaderLinkFlashParameters, Failures) {
  const struct {
    const char* name;
    Bytes replies;
    uint32_t failingWrite;
    uint32_t result;
  } cases[] = {
      {"command pair not written", {}, 1, 2},
      {"start not written", {}, 2, 3},
      {"end not written", {}, 3, 4},
      {"no acknowledgement", {}, 0, 5},
      {"not k", {0x6A}, 0, 6},
      {"no erase-wait byte", {0x6B}, 0, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.PushInput(c.replies);
    device.failWriteNumber = c.failingWrite;
    SerialPort port = OpenPort(device);
    FlashImage image;
    image.eraseWait = 9;
    EXPECT_EQ(LoaderLink().SetFlashParameters(port, &image), c.result);
    EXPECT_EQ(image.eraseWait, 9);
  }
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  EXPECT_EQ(LoaderLink().SetFlashParameters(port, nullptr), 1u);
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUpChip(const sim::LoaderFaults& faults = {}) {
    sim::ChipOptions options = LoaderRunning();
    options.loader = faults;
    wire = std::make_unique<ChipOnWire>(device, options);
    SkipHello(device);
  }
  // Flash parameters, then the stream; returns the stream's result.
  uint32_t Burn(const Bytes& bytes) {
    image = MakeImage(bytes);
    EXPECT_EQ(link.SetFlashParameters(port, image.get()), 0u);
    firstStreamWrite = device.EventsOf(Kind::kWrite).size();
    return link.StreamImage(port, image.get(), 0, ProgressLog::OnStart, &log,
                            ProgressLog::OnProgress, &log);
  }
  std::vector<Bytes> StreamWrites() const {
    std::vector<Bytes> writes;
    const auto events = device.EventsOf(Kind::kWrite);
    for (size_t k = firstStreamWrite; k < events.size(); ++k) {
      writes.push_back(events[k].bytes);
    }
    return writes;
  }
  Bytes Flashed(size_t size) const {
    const auto& cells = wire->chip.FlashMemory().Cells();
    return Bytes(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(size));
  }

  FakeSerialDevice device;
  std::unique_ptr<ChipOnWire> wire;
  SerialPort port = OpenPort(device);
  LoaderLink link;
  std::unique_ptr<FlashImage> image;
  ProgressLog log;
  size_t firstStreamWrite = 0;
};

TEST_F(StreamTest, HundredThousandBytes) {
  SetUpChip();
  const Bytes bytes = ImageBytes(100000);
  EXPECT_EQ(Burn(bytes), 0u);
  const auto writes = StreamWrites();
  const Bytes header = {
      0xE3,                                    // image stream
      0x00,     0x00,     0x04,     0x00,      // block size 1024
      bytes[0], bytes[1], bytes[2], bytes[3],  // the first four image bytes
  };
  EXPECT_EQ(writes.front(), header);
  EXPECT_EQ(writes.size(), 1 + 2 * 98u);  // 97 blocks of 1024 and one of 668, each with its sum
  EXPECT_EQ(Flashed(bytes.size()), bytes);
  EXPECT_EQ(log.starts, 1u);
  // Steps of 100000 / 26 bytes; the blocks carry 99996 bytes, so the stream itself reaches
  // step 25 and the final report makes the 100 %.
  ASSERT_EQ(log.reports.size(), 26u);
  EXPECT_EQ(log.reports[0], (ProgressReport{3, 4096, 100000}));
  EXPECT_EQ(log.reports[24], (ProgressReport{96, 96256, 100000}));
  EXPECT_EQ(log.reports[25], (ProgressReport{100, 99996, 100000}));
}

struct SmallImageCase {
  const char* name;
  uint32_t size;
  std::vector<size_t> blockWrites;  // sizes of the writes after the header
  ProgressReport finalReport;
};

TEST_F(StreamTest, SmallImages) {
  const SmallImageCase cases[] = {
      {"4 bytes: header only", 4, {}, {100, 0, 4}},
      {"5000 bytes: four full blocks and 900",
       5000,
       {1024, 2, 1024, 2, 1024, 2, 1024, 2, 900, 2},
       {100, 4996, 5000}},
      {"5 bytes: one block of one byte", 5, {1, 2}, {100, 1, 5}},
  };
  for (const SmallImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice dev;
    sim::ChipOptions options = LoaderRunning();
    ChipOnWire onWire(dev, options);
    SkipHello(dev);
    SerialPort p = OpenPort(dev);
    const Bytes bytes = ImageBytes(c.size);
    auto img = MakeImage(bytes);
    ProgressLog progress;
    ASSERT_EQ(link.SetFlashParameters(p, img.get()), 0u);
    EXPECT_EQ(
        link.StreamImage(p, img.get(), 0, nullptr, nullptr, ProgressLog::OnProgress, &progress),
        0u);
    std::vector<size_t> sizes;
    const auto events = dev.EventsOf(Kind::kWrite);
    for (size_t k = 4; k < events.size(); ++k) {
      sizes.push_back(events[k].bytes.size());
    }
    EXPECT_EQ(sizes, c.blockWrites);
    EXPECT_EQ(progress.reports, (std::vector<ProgressReport>{c.finalReport}));
    const auto& cells = onWire.chip.FlashMemory().Cells();
    EXPECT_EQ(Bytes(cells.begin(), cells.begin() + c.size), bytes);
  }
}

TEST_F(StreamTest, TwoByteImagePadsTheHeaderWithErasedBytes) {
  SetUpChip();
  EXPECT_EQ(Burn({0x12, 0x34}), 0u);
  const Bytes header = {
      0xE3,                    // image stream
      0x00, 0x00, 0x04, 0x00,  // block size
      0x12, 0x34,              // the image
      0xFF, 0xFF,              // padding: erased flash
  };
  EXPECT_EQ(StreamWrites(), std::vector<Bytes>{header});
  EXPECT_EQ(Flashed(2), (Bytes{0x12, 0x34}));
}

TEST_F(StreamTest, SumIsAdditiveOverTheBlock) {
  SetUpChip();
  Bytes bytes(4 + 1024, 0xFF);
  EXPECT_EQ(Burn(bytes), 0u);
  const auto writes = StreamWrites();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[2], (Bytes{0xFC, 0x00}));
}

TEST_F(StreamTest, FourRejectionsInARow) {
  sim::LoaderFaults faults;
  faults.rejectBlock = 1;
  faults.rejectTimes = 4;
  SetUpChip(faults);
  const Bytes bytes = ImageBytes(4 + 3 * 1024);
  EXPECT_EQ(Burn(bytes), 0u);
  const auto writes = StreamWrites();
  const Bytes block1(bytes.begin() + 1028, bytes.begin() + 2052);
  // Header, block 0 and its sum, then block 1 five times: three plain re-synchronisations
  // (resume byte only), then 0xB6 before the fourth.
  std::vector<Bytes> tail(writes.begin() + 3, writes.end());
  ASSERT_EQ(tail.size(), 5 * 2 + 4 + 1 + 2u);
  EXPECT_EQ(tail[0], block1);
  EXPECT_EQ(tail[2], Bytes{0xB9});
  EXPECT_EQ(tail[5], Bytes{0xB9});
  EXPECT_EQ(tail[8], Bytes{0xB9});
  EXPECT_EQ(tail[11], Bytes{0xB6});
  EXPECT_EQ(tail[12], Bytes{0xB9});
  EXPECT_EQ(tail[13], block1);
  EXPECT_EQ(wire->chip.RunningLoader()->Stats().hardResyncs, 1u);
  EXPECT_EQ(Flashed(bytes.size()), bytes);
}

TEST_F(StreamTest, RejectionCountStartsAgainAfterAnAcceptedBlock) {
  sim::LoaderFaults faults;
  faults.rejectBlock = 0;
  faults.rejectTimes = 3;
  SetUpChip(faults);
  EXPECT_EQ(Burn(ImageBytes(4 + 2048)), 0u);
  EXPECT_EQ(wire->chip.RunningLoader()->Stats().hardResyncs, 0u);
  EXPECT_EQ(wire->chip.RunningLoader()->Stats().rejections, 3u);
}

TEST_F(StreamTest, EndlessRejectionsAreBounded) {
  sim::LoaderFaults faults;
  faults.rejectBlock = 0;
  faults.rejectTimes = 1000;
  SetUpChip(faults);
  EXPECT_EQ(Burn(ImageBytes(2000)), kStreamTooManyRejections);
  EXPECT_EQ(wire->chip.RunningLoader()->Stats().rejections, kMaxBlockRejections);
}

struct StreamFaultCase {
  const char* name;
  sim::LoaderFaults faults;
  uint32_t result;
};

sim::LoaderFaults ReplyCode(uint8_t code) {
  sim::LoaderFaults faults;
  faults.replyCodeBlock = 1;
  faults.replyCode = code;
  return faults;
}

TEST(LoaderLinkStreamImage, LoaderVerdicts) {
  sim::LoaderFaults finalFailure;
  finalFailure.finalFailure = true;
  sim::LoaderFaults noErase;
  noErase.skipErase = true;
  const StreamFaultCase cases[] = {
      {"reply 5", ReplyCode(5), 9},
      {"reply 6", ReplyCode(6), 10},
      {"reply 7", ReplyCode(7), 11},
      {"final 0xB6", finalFailure, 19},
      {"flash not erased: the loader's check fails", noErase, 19},
  };
  for (const StreamFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    sim::ChipOptions options = LoaderRunning();
    options.loader = c.faults;
    options.flashFill = 0x0F;
    ChipOnWire wire(device, options);
    SkipHello(device);
    SerialPort port = OpenPort(device);
    auto image = MakeImage(ImageBytes(5000));
    ASSERT_EQ(LoaderLink().SetFlashParameters(port, image.get()), 0u);
    EXPECT_EQ(LoaderLink().StreamImage(port, image.get(), 0, nullptr, nullptr, nullptr, nullptr),
              c.result);
  }
}

struct ScriptedStreamCase {
  const char* name;
  Bytes replies;
  uint32_t result;
};

TEST(LoaderLinkStreamImage, ScriptedRepliesAndTimeOuts) {
  // An 8-byte image: header, one 4-byte block.
  const ScriptedStreamCase cases[] = {
      {"no first acknowledgement", {}, 4},
      {"first not k", {0x00}, 5},
      {"no second acknowledgement", {0x6B}, 6},
      {"second not k", {0x6B, 0x01}, 7},
      {"no block reply", {0x6B, 0x6B}, 8},
      {"rejected, no k", {0x6B, 0x6B, 0x22}, 13},
      {"rejected, not k", {0x6B, 0x6B, 0x22, 0x6C}, 14},
      {"no trailer", {0x6B, 0x6B, 0xB9}, 16},
      {"trailer not k", {0x6B, 0x6B, 0xB9, 0x6C}, 17},
      {"no final byte", {0x6B, 0x6B, 0xB9, 0x6B}, 18},
      {"final byte unknown", {0x6B, 0x6B, 0xB9, 0x6B, 0x00}, 20},
      {"success", {0x6B, 0x6B, 0xB9, 0x6B, 0x6B}, 0},
  };
  for (const ScriptedStreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.PushInput(c.replies);
    SerialPort port = OpenPort(device);
    auto image = MakeImage(ImageBytes(8));
    EXPECT_EQ(LoaderLink().StreamImage(port, image.get(), 0, nullptr, nullptr, nullptr, nullptr),
              c.result);
  }
  // Patient reads: (1, 10, 1000) waits 11 x 510 ms + 10 s, (1, 120, 1000) 121 x 510 ms + 120 s.
  FakeSerialDevice device;
  device.PushInput({0x6B, 0x6B, 0xB9});
  SerialPort port = OpenPort(device);
  auto image = MakeImage(ImageBytes(8));
  EXPECT_EQ(LoaderLink().StreamImage(port, image.get(), 0, nullptr, nullptr, nullptr, nullptr),
            16u);
  EXPECT_EQ(device.NowMs(), 121u * 510 + 120u * 1000);
}

TEST(LoaderLinkStreamImage, EraseWaitAndArguments) {
  const struct {
    uint8_t eraseWait;
    uint32_t sleepMs;
  } waits[] = {{0, 0}, {1, 2}, {100, 229}, {255, 584}};
  for (const auto& w : waits) {
    SCOPED_TRACE(w.eraseWait);
    FakeSerialDevice device;
    device.PushInput({0x6B, 0x6B, 0x6B, 0x6B});
    SerialPort port = OpenPort(device);
    auto image = MakeImage(ImageBytes(4));
    image->eraseWait = w.eraseWait;
    EXPECT_EQ(LoaderLink().StreamImage(port, image.get(), 0, nullptr, nullptr, nullptr, nullptr),
              0u);
    const auto sleeps = device.EventsOf(Kind::kSleep);
    if (w.sleepMs == 0) {
      EXPECT_TRUE(sleeps.empty());
    } else {
      ASSERT_EQ(sleeps.size(), 1u);
      EXPECT_EQ(sleeps[0].value, w.sleepMs);
    }
  }
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  EXPECT_EQ(LoaderLink().StreamImage(port, nullptr, 0, nullptr, nullptr, nullptr, nullptr), 1u);
  FlashImage empty;
  EXPECT_EQ(LoaderLink().StreamImage(port, &empty, 0, nullptr, nullptr, nullptr, nullptr), 2u);
  auto zeroBlocks = MakeImage(ImageBytes(100));
  zeroBlocks->blockSize = 0;
  EXPECT_EQ(LoaderLink().StreamImage(port, zeroBlocks.get(), 0, nullptr, nullptr, nullptr, nullptr),
            2u);
  EXPECT_TRUE(device.Written().empty());
  device.failWrite.remaining = 1;
  auto image = MakeImage(ImageBytes(100));
  EXPECT_EQ(LoaderLink().StreamImage(port, image.get(), 0, nullptr, nullptr, nullptr, nullptr), 3u);
}

struct FlashCrcCase {
  const char* name;
  Bytes replies;
  uint32_t result;
  uint32_t crc;
};

TEST(LoaderLinkReadFlashCrc, Answers) {
  const FlashCrcCase cases[] = {
      {"k and the CRC, most significant byte first", {0x6B, 0xCB, 0xF4, 0x39, 0x26}, 0, 0xCBF43926},
      {"silence", {}, 2, 0x55},
      {"no flash parameters", {0x07}, 3, 0x55},
      {"another byte", {0xB9}, 4, 0x55},
      {"the CRC cut short", {0x6B, 0xCB, 0xF4}, 5, 0x55},
  };
  for (const FlashCrcCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.PushInput(c.replies);
    SerialPort port = OpenPort(device);
    uint32_t crc = 0x55;
    EXPECT_EQ(LoaderLink().ReadFlashCrc(port, crc), c.result);
    EXPECT_EQ(crc, c.crc);
    EXPECT_EQ(device.Written(), Bytes{0xE4});
  }
  FakeSerialDevice device;
  device.failWrite.remaining = 1;
  SerialPort port = OpenPort(device);
  uint32_t crc = 0;
  EXPECT_EQ(LoaderLink().ReadFlashCrc(port, crc), 1u);
}

TEST(LoaderLinkFinish, WritesE5) {
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  EXPECT_EQ(LoaderLink().Finish(port), 0u);
  EXPECT_EQ(device.Written(), Bytes{0xE5});
  device.failWrite.remaining = 1;
  EXPECT_EQ(LoaderLink().Finish(port), 1u);
}

}  // namespace
}  // namespace tarvok
