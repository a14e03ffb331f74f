#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/FakeSerialDevice.h"

namespace tarvok {
namespace {

using testing::FakeSerialDevice;
using testing::OpenPort;
using Kind = FakeSerialDevice::EventKind;
using Bytes = std::vector<uint8_t>;

struct ReadCase {
  const char* name;
  std::vector<Bytes> osReads;  // what each OS read returns; {} is a read that times out
  uint32_t length;
  uint32_t maxIdleTries;
  int32_t status;
  uint32_t osReadCalls;
  uint32_t sleeps;
  Bytes buffer;
};

TEST(SerialPortRead, IdleBudget) {
  const ReadCase cases[] = {
      {"partial reads restore the budget",
       {{0x11}, {}, {0x22}, {}, {0x33, 0x44}},
       4,
       1,
       0,
       5,
       2,
       {0x11, 0x22, 0x33, 0x44}},
      {"two empty reads in a row end it",
       {{0x11}, {}, {}, {0x22}},
       4,
       1,
       99,
       3,
       1,
       {0x11, 0x00, 0x00, 0x00}},
      {"no idle tries: one read, no sleep", {{}, {}}, 3, 0, 99, 1, 0, {0x00, 0x00, 0x00}},
      {"three idle tries: four reads, three sleeps",
       {{}, {}, {}, {}, {}},
       2,
       3,
       99,
       4,
       3,
       {0x00, 0x00}},
      {"whole count in one read", {{0xA5, 0x5A}}, 2, 0, 0, 1, 0, {0xA5, 0x5A}},
      {"a budget beyond the 16-bit counter still ends", {}, 1, 70000, 99, 65536, 65535, {0x00}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.ScriptReads(c.osReads);
    SerialPort port = OpenPort(device);
    Bytes buffer(c.length, 0xEE);
    EXPECT_EQ(port.Read(buffer.data(), c.length, c.maxIdleTries, 100), c.status);
    EXPECT_EQ(device.ReadCalls(), c.osReadCalls);
    EXPECT_EQ(device.Sleeps(), c.sleeps);
    for (const auto& sleep : device.EventsOf(Kind::kSleep)) {
      EXPECT_EQ(sleep.value, 100u);
    }
    EXPECT_EQ(buffer, c.buffer);
  }
}

TEST(SerialPortRead, WaitsTheReadTimeOutPerEmptyOsRead) {
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  uint8_t byte = 0;
  // (1, 10, 1000) on a silent line: 11 OS reads of 510 ms and 10 sleeps of 1000 ms.
  EXPECT_EQ(port.Read(&byte, 1, 10, 1000), kPortIdle);
  EXPECT_EQ(device.NowMs(), 11u * 510 + 10u * 1000);
}

TEST(SerialPortRead, TakesBytesThatArriveWithinTheTimeOut) {
  FakeSerialDevice device;
  device.PushInput({0x6B}, 300'000);
  SerialPort port = OpenPort(device);
  uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1, 0, 100), kPortOk);
  EXPECT_EQ(byte, 0x6B);
  EXPECT_EQ(device.NowMs(), 300u);
}

struct WriteCase {
  const char* name;
  std::vector<uint32_t> accepts;  // bytes each OS write takes
  bool osWriteFails;
  bool drainTimesOut;
  int32_t status;
  uint32_t osWriteCalls;
  Bytes onWire;
  size_t drains;
};

TEST(SerialPortWrite, ShortWritesFailuresAndTheDrain) {
  const Bytes data = {1, 2, 3, 4, 5};
  const WriteCase cases[] = {
      {"one call takes all, then drains", {}, false, false, 0, 1, data, 1},
      {"short writes continue", {2, 1, 2}, false, false, 0, 3, data, 1},
      {"a write that takes nothing ends with 99", {2, 0}, false, false, 99, 2, {1, 2}, 0},
      {"a failed OS write is 3", {}, true, false, 3, 1, {}, 0},
      {"bytes that do not leave in time are 4", {}, false, true, 4, 1, data, 1},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    device.ScriptWriteAccepts(c.accepts);
    if (c.osWriteFails) {
      device.failWrite.remaining = 1;
    }
    device.drainTimesOut.remaining = c.drainTimesOut ? 1 : 0;
    SerialPort port = OpenPort(device);
    EXPECT_EQ(port.Write(data.data(), static_cast<uint32_t>(data.size())), c.status);
    EXPECT_EQ(device.WriteCalls(), c.osWriteCalls);
    EXPECT_EQ(device.Written(), c.onWire);
    EXPECT_EQ(device.EventsOf(Kind::kDrain).size(), c.drains);
  }
}

TEST(SerialPort, ArgumentAndOpenChecksTouchNothing) {
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  std::array<uint8_t, 4> buffer = {9, 9, 9, 9};
  EXPECT_EQ(port.Write(buffer.data(), 0), kPortBadArgument);
  EXPECT_EQ(port.Write(nullptr, 4), kPortBadArgument);
  EXPECT_EQ(port.Read(buffer.data(), 0, 0, 100), kPortBadArgument);
  EXPECT_EQ(port.Read(nullptr, 4, 0, 100), kPortBadArgument);
  EXPECT_EQ(buffer, (std::array<uint8_t, 4>{9, 9, 9, 9}));

  port.isOpen = 0;
  uint32_t value = 77;
  EXPECT_EQ(port.Write(buffer.data(), 4), kPortNotOpen);
  EXPECT_EQ(port.Read(buffer.data(), 4, 0, 100), kPortNotOpen);
  EXPECT_EQ(port.GetBaudRate(value), kPortNotOpen);
  EXPECT_EQ(port.SetBaudRate(115200), kPortNotOpen);
  EXPECT_EQ(port.GetInputCount(value), kPortNotOpen);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(device.ReadCalls() + device.WriteCalls() + device.ClearErrorCalls(), 0u);
  EXPECT_TRUE(device.Events().empty());
}

// What the device saw after the test's own set-up: (kind, value).
using EventList = std::vector<std::pair<Kind, uint32_t>>;

struct BaudCase {
  const char* name;
  uint32_t from;
  uint32_t to;
  uint32_t failGetLine;
  uint32_t failSetLine;
  uint32_t failPurge;
  bool drainTimesOut;
  int32_t status;
  uint32_t rateAfter;
  EventList events;
};

TEST(SerialPortSetBaudRate, DrainsFirstWritesOnlyChangesAndAlwaysPurges) {
  const auto drained = std::make_pair(Kind::kDrain, 0u);
  const auto stuck = std::make_pair(Kind::kDrain, 1u);
  const auto purgeInput = std::make_pair(Kind::kPurge, kPurgeInput);
  const auto guard = std::make_pair(Kind::kSleep, kRateChangeGuardMs);
  const BaudCase cases[] = {
      {"new rate: drain, set between quiet guards, discard the input only",
       9600,
       921600,
       0,
       0,
       0,
       false,
       0,
       921600,
       {drained, guard, {Kind::kSetLine, 921600}, guard, purgeInput}},
      {"same rate still discards the input",
       115200,
       115200,
       0,
       0,
       0,
       false,
       0,
       115200,
       {drained, purgeInput}},
      {"output that will not drain is discarded too",
       9600,
       921600,
       0,
       0,
       0,
       true,
       0,
       921600,
       {stuck, guard, {Kind::kSetLine, 921600}, guard, {Kind::kPurge, kPurgeAll}}},
      {"reading the state fails", 9600, 921600, 1, 0, 0, false, 2, 9600, {}},
      {"writing the state fails: old rate, no purge",
       9600,
       921600,
       0,
       1,
       0,
       false,
       3,
       9600,
       {drained, guard}},
      {"purge fails",
       9600,
       921600,
       0,
       0,
       1,
       false,
       4,
       921600,
       {drained, guard, {Kind::kSetLine, 921600}, guard}},
  };
  for (const BaudCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    LineSettings settings;
    settings.baudRate = c.from;
    device.SetLineSettings(settings);
    device.PushInput({0x01, 0x02});
    device.failGetLine.remaining = c.failGetLine;
    device.failSetLine.remaining = c.failSetLine;
    device.failPurge.remaining = c.failPurge;
    device.drainTimesOut.remaining = c.drainTimesOut ? 1 : 0;
    SerialPort port = OpenPort(device);
    EXPECT_EQ(port.SetBaudRate(c.to), c.status);
    EXPECT_EQ(device.BaudRate(), c.rateAfter);
    EventList events;
    for (const auto& e : device.Events()) {
      events.emplace_back(e.kind, e.value);
    }
    events.erase(events.begin());  // the test's own set-up
    EXPECT_EQ(events, c.events);
    if (c.status == 0) {
      EXPECT_EQ(device.InputWaiting(), 0u);
    }
    EXPECT_EQ(port.lastError, c.status == 2 || c.status == 3 ? device.LastError() : 0u);
  }
}

TEST(SerialPort, GetBaudRateAndInputCount) {
  FakeSerialDevice device;
  SerialPort port = OpenPort(device);
  uint32_t rate = 0;
  EXPECT_EQ(port.GetBaudRate(rate), kPortOk);
  EXPECT_EQ(rate, 9600u);
  device.failGetLine.remaining = 1;
  rate = 1;
  EXPECT_EQ(port.GetBaudRate(rate), 2);
  EXPECT_EQ(rate, 1u);

  device.PushInput({0xAA, 0xBB, 0xCC});
  device.SetPendingErrors(kErrorFrame | kErrorOverrun);
  uint32_t count = 99;
  EXPECT_EQ(port.GetInputCount(count), 2);
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(port.GetInputCount(count), kPortOk);
  EXPECT_EQ(count, 3u);
  device.failClearError.remaining = 1;
  EXPECT_EQ(port.GetInputCount(count), 2);
}

}  // namespace
}  // namespace tarvok
