#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "rom/RomTR7340.h"
#include "tests/support/RomOnWire.h"
#include "tests/support/WireTest.h"

namespace tarvok {
namespace {

using namespace testing;

constexpr uint8_t S = 0;  // marks a whole sync sentence in an expected wire sequence

// The host's writes as a sequence where each 12-byte sentence is replaced by S.
Bytes WireWithSentences(const FakeSerialDevice& device) {
  Bytes wire;
  for (const auto& e : device.EventsOf(Kind::kWrite)) {
    if (e.bytes == Bytes(kSyncSentence.begin(), kSyncSentence.end())) {
      wire.push_back(S);
    } else {
      wire.insert(wire.end(), e.bytes.begin(), e.bytes.end());
    }
  }
  return wire;
}

// A chip that answers the n-th single pattern byte written with the n-th scripted answer.
void ScriptAnswers(FakeSerialDevice& device, std::vector<Bytes> answers) {
  device.SetResponder([queue = std::deque<Bytes>(answers.begin(), answers.end())](
                          FakeSerialDevice& d, std::span<const uint8_t> bytes) mutable {
    if (bytes.size() == 1 && !queue.empty()) {
      d.PushInput(queue.front());
      queue.pop_front();
    }
  });
}

struct SyncCase {
  const char* name;
  std::vector<Bytes> answers;
  Bytes wire;
};

TEST(RomSync, AnswerSequences) {
  const SyncCase cases[] = {
      {"straight through", {{0x6F}, {0xF6}, {0x9F}, {0xF9}}, {S, 0x90, 0x09, 0x60, 0x06}},
      {"a late 0x6F in state 1 is skipped without resending",
       {{0x6F}, {0x6F, 0xF6}, {0x9F}, {0xF9}},
       {S, 0x90, 0x09, 0x60, 0x06}},
      {"a wrong answer starts again at 0x90 without a new sentence",
       {{0x6F}, {0x12}, {0x6F}, {0xF6}, {0x9F}, {0xF9}},
       {S, 0x90, 0x09, 0x90, 0x09, 0x60, 0x06}},
      {"0x00 counts as no answer: listen again, do not resend",
       {{0x6F}, {0xF6}, {0x00, 0x9F}, {0xF9}},
       {S, 0x90, 0x09, 0x60, 0x06}},
      {"0x6F in state 2 is a wrong answer",
       {{0x6F}, {0xF6}, {0x6F}, {0x6F}, {0xF6}, {0x9F}, {0xF9}},
       {S, 0x90, 0x09, 0x60, 0x90, 0x09, 0x60, 0x06}},
  };
  for (const SyncCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSerialDevice device;
    ScriptAnswers(device, c.answers);
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 20);
    EXPECT_EQ(rom.Sync(port), 0u);
    EXPECT_EQ(WireWithSentences(device), c.wire);
  }
}

// A boot ROM behind a USB adapter whose latency timer holds each answer back.
TEST(RomSync, AnswersHeldBackByAnAdapterWakeTheChipInOneCycle) {
  for (const uint64_t latencyMs : {1u, 16u, 32u, 64u, 90u}) {
    SCOPED_TRACE(latencyMs);
    FakeSerialDevice device;
    device.SetResponder([latencyMs](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      if (bytes.size() == 1) {
        d.PushInput({static_cast<uint8_t>(~bytes[0])}, latencyMs * 1000);
      }
    });
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 20);
    EXPECT_EQ(rom.Sync(port), 0u);
    // One sentence; 0x90 until the first answer is heard, then 0x09, 0x60 and 0x06 once each.
    const Bytes wire = WireWithSentences(device);
    ASSERT_GE(wire.size(), 5u);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), S), 1);
    EXPECT_EQ(Bytes(wire.end() - 3, wire.end()), (Bytes{0x09, 0x60, 0x06}));
    EXPECT_EQ(std::count(wire.begin(), wire.end(), 0x90), static_cast<long>(wire.size() - 4));
  }
}

struct SilentCase {
  uint32_t triesPerCycle;
  uint32_t firstBytesPerCycle;
};

TEST(RomSync, SilentChipEndsEveryCycleOnThe51stMiss) {
  const SilentCase cases[] = {{200, 51}, {kNoTryBudget, 51}, {30, 30}, {0, 0}};
  for (const SilentCase& c : cases) {
    SCOPED_TRACE(c.triesPerCycle);
    FakeSerialDevice device;
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(c.triesPerCycle, 20);
    EXPECT_EQ(rom.Sync(port), kSyncNoHandshake);

    Bytes cycle = {S};
    cycle.insert(cycle.end(), c.firstBytesPerCycle, 0x90);
    Bytes expected;
    for (int k = 0; k < 20; ++k) {
      expected.insert(expected.end(), cycle.begin(), cycle.end());
    }
    EXPECT_EQ(WireWithSentences(device), expected);
    // 0x90 is resent every 10 ms; the 51st miss purges instead.
    const bool ends51 = c.firstBytesPerCycle == 51;
    EXPECT_EQ(device.EventsOf(Kind::kPurge).size(), ends51 ? 20u : 0u);
    EXPECT_EQ(device.Sleeps(), 20u * (ends51 ? 50 : c.firstBytesPerCycle));
    // 32 input-count polls per unanswered pass, no sleep between them.
    EXPECT_EQ(device.ClearErrorCalls(), 20u * 32 * c.firstBytesPerCycle);
  }
}

TEST(RomSync, FloodedInputIsPurgedAndTheCycleEnds) {
  FakeSerialDevice device;
  device.PushInput(Bytes(1024, '$'));  // a chip still chattering its sentences
  ScriptAnswers(device, {{}, {0x6F}, {0xF6}, {0x9F}, {0xF9}});
  SerialPort port = OpenPort(device);
  Rom_TR7340 rom(200, 20);
  EXPECT_EQ(rom.Sync(port), 0u);
  EXPECT_EQ(WireWithSentences(device), (Bytes{S, 0x90, S, 0x90, 0x09, 0x60, 0x06}));
  EXPECT_EQ(device.EventsOf(Kind::kPurge).size(), 2u);
}

TEST(RomSync, CycleEndingWhileListeningListensFirstInTheNext) {
  FakeSerialDevice device;
  int pattern = 0;
  device.SetResponder([&pattern](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
    if (bytes.size() == 12) {
      if (pattern > 0) {
        d.PushInput({0x6F});  // heard right after the second sentence
      }
      return;
    }
    ++pattern;
    if (bytes[0] == 0x90) {
      d.PushInput({0x6F});
    } else if (pattern > 2 && bytes[0] == 0x09) {
      d.PushInput({0xF6});
    } else if (bytes[0] == 0x60) {
      d.PushInput({0x9F});
    } else if (bytes[0] == 0x06) {
      d.PushInput({0xF9});
    }
  });
  SerialPort port = OpenPort(device);
  Rom_TR7340 rom(3, 20);
  EXPECT_EQ(rom.Sync(port), 0u);
  EXPECT_EQ(WireWithSentences(device), (Bytes{S, 0x90, 0x09, S, 0x09, 0x60, 0x06}));
}

TEST(RomSync, EndlessLoopsAreBounded) {
  {
    SCOPED_TRACE("no budget, chip falls silent after 0x6F");
    FakeSerialDevice device;
    device.SetResponder([](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      if (bytes.size() == 1 && bytes[0] == 0x90) {
        d.PushInput({0x6F});
      }
    });
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(kNoTryBudget, 2);
    EXPECT_EQ(rom.Sync(port), kSyncNoHandshake);
    EXPECT_EQ(device.EventsOf(Kind::kWrite).size(), 2u + 2 * 2);  // sentence, 0x90, 0x09
    EXPECT_LE(device.ClearErrorCalls(), 2u * 32 * kSyncMaxPassesPerCycle);
  }
  {
    SCOPED_TRACE("chip answers 0x90 and then always something wrong");
    FakeSerialDevice device;
    device.SetResponder([](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      if (bytes.size() == 1) {
        d.PushInput({static_cast<uint8_t>(bytes[0] == 0x90 ? 0x6F : 0x55)});
      }
    });
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 3);
    EXPECT_EQ(rom.Sync(port), kSyncNoHandshake);
    EXPECT_EQ(device.EventsOf(Kind::kWrite).size(), 3u * (1 + kSyncMaxPassesPerCycle));
  }
  {
    SCOPED_TRACE("input-count query fails forever");
    FakeSerialDevice device;
    device.failClearError.remaining = testing::FailCount::kAlways;
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 2);
    EXPECT_EQ(rom.Sync(port), kSyncNoHandshake);
    EXPECT_EQ(device.ClearErrorCalls(), 2u * 51 * kSyncMaxFailedQueries);
  }
}

TEST(RomSync, SentenceAndHandleFailures) {
  FakeSerialDevice device;
  device.failWrite.remaining = 1;
  SerialPort port = OpenPort(device);
  Rom_TR7340 rom(200, 20);
  EXPECT_EQ(rom.Sync(port), kSyncSentenceFailed);
  EXPECT_EQ(device.WriteCalls(), 1u);

  SerialPort noHandle;
  noHandle.isOpen = 1;
  EXPECT_EQ(rom.Sync(noHandle), kSyncNoHandle);
  BootRequest request;
  EXPECT_EQ(rom.Boot(noHandle, request), kBootSyncFailed);
}

TEST(RomBoot, DownloadsTheLoaderAndStartsItAt0xC00) {
  struct LoaderCase {
    uint32_t length;
    size_t progressReports;
  };
  // Our firmware's block, and the 8,728-byte one earlier versions sent.
  const LoaderCase cases[] = {{3136, 13}, {8728, 30}};
  for (const LoaderCase& c : cases) {
    SCOPED_TRACE(c.length);
    FakeSerialDevice device;
    RomOnWire wire(device);
    SerialPort port = OpenPort(device);
    Bytes loader(c.length);
    for (size_t k = 0; k < loader.size(); ++k) {
      loader[k] = static_cast<uint8_t>((k * 131) ^ (k >> 5));
    }
    ProgressLog log;
    const BootRequest request{loader.data(),           c.length, ProgressLog::OnStart, &log,
                              ProgressLog::OnProgress, &log};
    auto rom = CreateRom(200, 20);
    ASSERT_NE(rom, nullptr);
    EXPECT_EQ(rom->loadAddress, 0xC00u);
    EXPECT_EQ(rom->Boot(port, request), 0u);
    EXPECT_EQ(log.starts, 1u);
    ASSERT_EQ(log.reports.size(), c.progressReports);
    EXPECT_EQ(log.reports.back(), (ProgressReport{100, c.length, c.length}));
    EXPECT_TRUE(wire.rom.Started());
    EXPECT_EQ(wire.rom.StartAddress(), 0xC00u);
    EXPECT_EQ(Bytes(wire.rom.Ram().begin() + 0xC00, wire.rom.Ram().begin() + 0xC00 + c.length),
              loader);
    const Bytes wireBytes = device.Written();
    const Bytes execute = {
        0xA8,                    // command: execute
        0x00, 0x00, 0x0C, 0x00,  // address of the loader
    };
    EXPECT_EQ(Bytes(wireBytes.end() - 5, wireBytes.end()), execute);
    // 200 ms pass between the completed handshake and the download.
    const auto sleeps = device.EventsOf(Kind::kSleep);
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps.front().value, 200u);
  }
}

TEST(RomBoot, StepFailuresMapToOneCodeEach) {
  const Bytes loader(600, 0x5A);
  const BootRequest request{loader.data(), 600, nullptr, nullptr, nullptr, nullptr};
  {
    FakeSerialDevice device;
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 1);
    EXPECT_EQ(rom.Boot(port, request), kBootSyncFailed);
  }
  {
    FakeSerialDevice device;
    RomOnWire wire(device);
    wire.rom.wrongChecksum = true;
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 20);
    EXPECT_EQ(rom.Boot(port, request), kBootWriteFailed);
  }
  {
    FakeSerialDevice device;
    RomOnWire wire(device);
    wire.tamper = [](Bytes& answer) {
      if (answer.size() == 1 && answer[0] == kRomExecute) {
        answer[0] = 0x00;
      }
    };
    SerialPort port = OpenPort(device);
    Rom_TR7340 rom(200, 20);
    EXPECT_EQ(rom.Boot(port, request), kBootExecuteFailed);
  }
}

}  // namespace
}  // namespace tarvok
