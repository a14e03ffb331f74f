// A serial line whose far end the fuzzer scripts, on the fake device's virtual clock.
//
// After every host write the chip model works out what a well-behaved chip would answer,
// and the next action of the fuzz input decides what actually comes back: that answer at
// once or late, split, corrupted, replaced, padded, a flood, nothing at all, or the answer
// plus a fault of the device itself (a failing call, a line error, a write nobody takes).
//
// The line also holds the host to its bounds, and aborts the run (so the fuzzer reports it)
// when the host writes more often than the operation can, or waits longer between two writes
// than its longest single exchange allows, or makes more device calls in such a wait than
// the operation's retry loops can add up to.
#pragma once

#include <cstdint>
#include <memory>

#include "tests/fuzz/ChipModels.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/support/FakeSerialDevice.h"

namespace tarvok::fuzz {

struct LineBounds {
  uint64_t maxWrites = 0;              // OS write calls in the whole operation
  uint64_t maxMsBetweenWrites = 0;     // virtual time from the end of one write to the next call
  uint64_t maxCallsBetweenWrites = 0;  // reads, input-count queries and sleeps in between
  uint64_t maxWriteBytes = 0;          // the longest single write
};

// What the far end does when the script has run out.
enum class WhenScriptEnds : uint8_t { kAnswer, kSilence };

// Worst-case time of one OS call as the port set-up configures it: 10 ms a byte plus 500 ms.
constexpr uint64_t OsCallTimeoutMs(uint64_t bytes) {
  return 10 * bytes + 500;
}
// Worst case of SerialPort::Read(bytes, idleTries, idleSleepMs): every byte but the last may
// trickle in alone, each after up to `idleTries` empty reads and sleeps (a partial read
// restores the idle budget), and the last stretch may run the budget out.
constexpr uint64_t ReadBoundMs(uint64_t bytes, uint64_t idleTries, uint64_t idleSleepMs) {
  return bytes * ((idleTries + 1) * OsCallTimeoutMs(bytes) + idleTries * idleSleepMs);
}
// Device calls (OS reads and sleeps) of that worst case.
constexpr uint64_t ReadCallsBound(uint64_t bytes, uint64_t idleTries) {
  return bytes * (2 * idleTries + 1);
}

class ScriptedLine : public testing::FakeSerialDevice {
 public:
  ScriptedLine(FuzzInput& input, ChipModel& chip, const LineBounds& bounds, WhenScriptEnds end);

  // Lets the chip say what it says before any write (a loader's hello), through the script.
  void StartChip();
  // The bytes of the host's last write call, whether the device took them or not.
  const Bytes& LastWriteAttempt() const { return lastWriteAttempt_; }
  // Whether the script changed anything about what the chip answered.
  bool Bent() const { return bent_; }
  // Whether the chip answered every write as a well-behaved chip does: nothing bent, and an
  // answer still once the script ran out.
  bool AnsweredRightly() const { return !bent_ && end_ == WhenScriptEnds::kAnswer; }
  // Aborts when the whole run took longer than its bounds allow.
  void CheckTotal(const char* operation) const;

  bool Write(const uint8_t* data, uint32_t length, uint32_t& accepted) override;
  bool Read(uint8_t* buffer, uint32_t length, uint32_t& received) override;
  bool ClearError(CommStatus& status) override;
  void Sleep(uint32_t ms) override;

 private:
  void Answer(Bytes answer);
  void InjectDeviceFault();
  void CountCallBetweenWrites(const char* call);

  FuzzInput& input_;
  ChipModel& chip_;
  LineBounds bounds_;
  WhenScriptEnds end_;
  uint64_t writes_ = 0;
  uint64_t extraWriteCalls_ = 0;  // from writes the script let take only part of the bytes
  uint64_t lastWriteEndUs_ = 0;
  uint64_t callsSinceWrite_ = 0;
  bool bent_ = false;
  Bytes lastWriteAttempt_;
};

}  // namespace tarvok::fuzz
