// The boot-ROM handshake's bounds on the host, for the targets that wake the chip.
#pragma once

#include <cstdint>

#include "rom/RomTR7340.h"

namespace tarvok::fuzz {

// Every pass of a cycle may write a pattern byte, after the cycle's sentence.
constexpr uint64_t SyncMaxWrites(uint32_t cycles) {
  return uint64_t{cycles} * (1 + kSyncMaxPassesPerCycle);
}

// Each pass polls for its answer, queries what failed and sleeps between the two.
inline constexpr uint64_t kSyncMaxCallsBetweenWrites =
    uint64_t{kSyncMaxPassesPerCycle} * (kSyncPollsPerAnswer + kSyncMaxFailedQueries + 3);

}  // namespace tarvok::fuzz
