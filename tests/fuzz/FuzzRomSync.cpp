// The boot-ROM handshake against every answer a chip (or a noisy line) can give.
#include <array>

#include "rom/RomTR7340.h"
#include "tests/fuzz/FuzzTarget.h"
#include "tests/fuzz/Require.h"
#include "tests/fuzz/SyncBounds.h"

namespace tarvok::fuzz {
namespace {

constexpr std::array<uint32_t, 5> kTryBudgets = {200, 0, 1, 50, kNoTryBudget};
constexpr std::array<uint32_t, 4> kCycleCounts = {20, 1, 2, 3};

// Gaps between two host writes in the handshake: state 1-3 listens at least its floor and
// then one 1 ms step; state 0 pauses before it resends.
LineBounds SyncBounds(uint32_t cycles) {
  return {.maxWrites = SyncMaxWrites(cycles),
          .maxMsBetweenWrites = kSyncListenFloorMs + 1 + kSyncResendPauseMs,
          .maxCallsBetweenWrites = kSyncMaxCallsBetweenWrites,
          .maxWriteBytes = kSyncSentence.size()};
}

}  // namespace

void RunTarget(FuzzInput& input, WhenScriptEnds end) {
  const uint32_t tries = kTryBudgets[input.Byte() % kTryBudgets.size()];
  // Without a budget every cycle may run its whole pass bound: keep those runs short.
  const uint32_t cycles =
      tries == kNoTryBudget ? 2 : kCycleCounts[input.Byte() % kCycleCounts.size()];

  RomModel chip;
  ScriptedLine line(input, chip, SyncBounds(cycles), end);
  SerialPort port = testing::OpenPort(line);
  Rom_TR7340 rom(tries, cycles);
  const uint32_t result = rom.Sync(port);

  Require(result == 0 || result == kSyncSentenceFailed || result == kSyncNoHandshake,
          "Sync returns one of its codes");
  const std::vector<uint8_t> written = line.Written();
  if (result == 0) {
    Require(!written.empty() && written.back() == kSyncPattern[3],
            "a completed handshake ends with the host's 0x06");
  }
  if (line.AnsweredRightly() && tries != 0) {
    Require(result == 0, "a chip that answers every byte rightly is woken");
  }
  line.CheckTotal("Sync ms");
}

}  // namespace tarvok::fuzz
