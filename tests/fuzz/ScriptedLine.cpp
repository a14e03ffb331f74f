#include "tests/fuzz/ScriptedLine.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tarvok::fuzz {
namespace {

constexpr uint64_t kUsPerMs = 1000;
// Late answers come up to 255 × 4 ms after the write, beyond every quick read's time-out.
constexpr uint64_t kLateStepUs = 4 * kUsPerMs;
constexpr uint32_t kFloodBytes = 1024;

enum Action : uint8_t {
  kAnswerNow,
  kAnswerLate,
  kSilent,
  kReplace,
  kCorrupt,
  kAppend,
  kSplit,
  kFlood,
  kDeviceFault,
  kLoseByte,
  kActionCount,
};

enum DeviceFault : uint8_t {
  kFailRead,
  kFailWrite,
  kDrainTimesOut,
  kFailPurge,
  kFailGetLine,
  kFailSetLine,
  kFailClearError,
  kLineError,
  kWriteTakesNothing,
  kWriteTakesSome,
  kDeviceFaultCount,
};

[[noreturn]] void OutOfBounds(const char* what, uint64_t value, uint64_t bound) {
  std::fprintf(stderr, "host out of its protocol bound: %s = %llu > %llu\n", what,
               static_cast<unsigned long long>(value), static_cast<unsigned long long>(bound));
  std::abort();
}

}  // namespace

ScriptedLine::ScriptedLine(FuzzInput& input, ChipModel& chip, const LineBounds& bounds,
                           WhenScriptEnds end)
    : input_(input), chip_(chip), bounds_(bounds), end_(end) {
  SetResponder([this](FakeSerialDevice&, std::span<const uint8_t> bytes) {
    Bytes answer;
    for (const uint8_t byte : bytes) {
      chip_.Receive(byte, answer);
    }
    Answer(std::move(answer));
  });
}

void ScriptedLine::StartChip() {
  Bytes greeting;
  chip_.Start(greeting);
  Answer(std::move(greeting));
}

void ScriptedLine::Answer(Bytes answer) {
  if (input_.Exhausted()) {
    if (end_ == WhenScriptEnds::kAnswer) {
      PushInput(answer);
    }
    return;
  }
  const auto action = static_cast<Action>(input_.Byte() % kActionCount);
  bent_ = bent_ || action != kAnswerNow;
  switch (action) {
    case kAnswerNow:
      PushInput(answer);
      return;
    case kAnswerLate:
      PushInput(answer, input_.Byte() * kLateStepUs);
      return;
    case kSilent:
      return;
    case kReplace: {
      Bytes replaced(1 + input_.Byte() % 4);
      for (uint8_t& byte : replaced) {
        byte = input_.Byte();
      }
      PushInput(replaced);
      return;
    }
    case kCorrupt:
      if (!answer.empty()) {
        const uint8_t flip = input_.Byte(1);
        answer[input_.Byte() % answer.size()] ^= flip != 0 ? flip : 1;
      }
      PushInput(answer);
      return;
    case kAppend:
      for (uint32_t extra = 1 + input_.Byte() % 8; extra > 0; --extra) {
        answer.push_back(input_.Byte());
      }
      PushInput(answer);
      return;
    case kSplit: {
      const size_t now = answer.empty() ? 0 : input_.Byte() % answer.size();
      PushInput(std::span<const uint8_t>(answer.data(), now));
      PushInput(std::span<const uint8_t>(answer.data() + now, answer.size() - now),
                input_.Byte() * kLateStepUs);
      return;
    }
    case kFlood: {
      const size_t floodBytes = kFloodBytes + input_.Byte() * 4u;
      answer.resize(answer.size() + floodBytes, input_.Byte());
      PushInput(answer);
      return;
    }
    case kDeviceFault:
      InjectDeviceFault();
      PushInput(answer);
      return;
    case kLoseByte:
      if (!answer.empty()) {
        answer.erase(answer.begin() + static_cast<std::ptrdiff_t>(input_.Byte() % answer.size()));
      }
      PushInput(answer);
      return;
    default:
      return;
  }
}

void ScriptedLine::InjectDeviceFault() {
  switch (input_.Byte() % kDeviceFaultCount) {
    case kFailRead:
      failRead.remaining = 1;
      return;
    case kFailWrite:
      failWrite.remaining = 1;
      return;
    case kDrainTimesOut:
      drainTimesOut.remaining = 1;
      return;
    case kFailPurge:
      failPurge.remaining = 1;
      return;
    case kFailGetLine:
      failGetLine.remaining = 1;
      return;
    case kFailSetLine:
      failSetLine.remaining = 1;
      return;
    case kFailClearError:
      // Up to 2040 queries in a row: past any bound the handshake keeps on them.
      failClearError.remaining = input_.Byte() * 8u;
      return;
    case kLineError:
      SetPendingErrors(kErrorFrame);
      return;
    case kWriteTakesNothing:
      ScriptWriteAccepts({0});
      return;
    case kWriteTakesSome:
      // The rest of that write goes in one more OS write call.
      ScriptWriteAccepts({1u + input_.Byte() % 16});
      ++extraWriteCalls_;
      return;
    default:
      return;
  }
}

void ScriptedLine::CountCallBetweenWrites(const char* call) {
  if (++callsSinceWrite_ > bounds_.maxCallsBetweenWrites) {
    OutOfBounds(call, callsSinceWrite_, bounds_.maxCallsBetweenWrites);
  }
  const uint64_t waitedMs = (NowUs() - lastWriteEndUs_) / kUsPerMs;
  if (waitedMs > bounds_.maxMsBetweenWrites) {
    OutOfBounds("ms waited between two writes", waitedMs, bounds_.maxMsBetweenWrites);
  }
}

bool ScriptedLine::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  CountCallBetweenWrites("write");
  if (++writes_ > bounds_.maxWrites + extraWriteCalls_) {
    OutOfBounds("writes", writes_, bounds_.maxWrites + extraWriteCalls_);
  }
  lastWriteAttempt_.assign(data, data + length);
  const bool ok = FakeSerialDevice::Write(data, length, accepted);
  lastWriteEndUs_ = NowUs();
  callsSinceWrite_ = 0;
  return ok;
}

bool ScriptedLine::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  const bool ok = FakeSerialDevice::Read(buffer, length, received);
  CountCallBetweenWrites("reads between two writes");
  return ok;
}

bool ScriptedLine::ClearError(CommStatus& status) {
  const bool ok = FakeSerialDevice::ClearError(status);
  CountCallBetweenWrites("input-count queries between two writes");
  return ok;
}

void ScriptedLine::Sleep(uint32_t ms) {
  FakeSerialDevice::Sleep(ms);
  CountCallBetweenWrites("sleeps between two writes");
}

void ScriptedLine::CheckTotal(const char* operation) const {
  // Every gap between writes within its bound, and every write within its own time-out.
  const uint64_t writes = bounds_.maxWrites + extraWriteCalls_;
  const uint64_t boundMs =
      (writes + 1) * bounds_.maxMsBetweenWrites + writes * OsCallTimeoutMs(bounds_.maxWriteBytes);
  if (NowMs() > boundMs) {
    OutOfBounds(operation, NowMs(), boundMs);
  }
}

}  // namespace tarvok::fuzz
