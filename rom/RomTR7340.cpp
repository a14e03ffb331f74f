#include "rom/RomTR7340.h"

#include <new>

namespace tarvok {
namespace {

uint32_t SaturatingIncrement(uint32_t value) {
  return value == UINT32_MAX ? value : value + 1;
}

// Where the handshake stands.
struct Handshake {
  uint32_t state = 0;   // the index of the pattern byte being answered
  uint32_t misses = 0;  // misses since the last good answer, across states
  bool cycleOver = false;
  bool flooded = false;
  // Survives the end of a cycle: a cycle that ended while listening makes the next one
  // listen once after its sentence before it sends 0x90.
  bool send = true;

  void StartCycle() {
    state = 0;
    misses = 0;
    cycleOver = false;
    flooded = false;
  }
};

// Moves the handshake on by one answer, given as its complement `v`. True when that
// completed the pattern.
bool TakeAnswer(SerialPort& port, uint8_t v, uint32_t triesPerCycle, Handshake& hs) {
  if (v == kSyncPattern[hs.state]) {
    if (hs.state == kSyncPattern.size() - 1) {
      return true;
    }
    ++hs.state;
    hs.misses = 0;
    hs.send = true;
  } else if (hs.state == 0) {
    hs.send = true;
    hs.misses = SaturatingIncrement(hs.misses);
    if (hs.misses > kSyncMaxFirstByteMisses) {
      DrainAndPurge(*port.handle);
      hs.misses = triesPerCycle;
      hs.cycleOver = true;
    } else {
      SleepMs(port, kSyncResendPauseMs);
    }
  } else if (hs.state == 1 && v == kSyncPattern[0]) {
    // A late answer to an earlier 0x90: listen again without cost.
    hs.send = false;
  } else if (v == 0xFF) {
    // No answer (or 0x00): listen again without resending.
    hs.send = false;
    hs.misses = SaturatingIncrement(hs.misses);
  } else {
    hs.state = 0;
    hs.misses = SaturatingIncrement(hs.misses);
    hs.send = true;
  }
  return false;
}

}  // namespace

Rom_TR7340::Rom_TR7340(uint32_t tries, uint32_t cycleCount)
    : triesPerCycle(tries), cycles(cycleCount) {}

std::unique_ptr<Rom_TR7340> CreateRom(uint32_t triesPerCycle, uint32_t cycles) {
  return std::unique_ptr<Rom_TR7340>(new (std::nothrow) Rom_TR7340(triesPerCycle, cycles));
}

// Busy-polls the input count so that an answer is taken the moment it arrives. A received
// 0x00 and no answer at all look the same to the handshake.
uint8_t Rom_TR7340::ReceiveAnswer(SerialPort& port, uint32_t& misses, bool& flooded) {
  uint8_t answer = 0x00;
  uint32_t emptyPolls = 0;
  uint32_t failedQueries = 0;
  while (true) {
    uint32_t waiting = 0;
    if (port.GetInputCount(waiting) != kPortOk) {
      // A line error is cleared by the query itself, so the next one normally succeeds.
      if (++failedQueries >= kSyncMaxFailedQueries) {
        return 0x00;
      }
      continue;
    }
    if (waiting >= kSyncFloodBytes) {
      DrainAndPurge(*port.handle);
      misses = triesPerCycle;
      flooded = true;
      return 0x00;
    }
    if (waiting > 0) {
      port.Read(&answer, 1, 0, 100);
      return answer;
    }
    if (++emptyPolls >= kSyncPollsPerAnswer) {
      return 0x00;
    }
  }
}

uint32_t Rom_TR7340::Sync(SerialPort& port) {
  if (port.handle == nullptr) {
    return kSyncNoHandle;
  }
  const bool budgeted = triesPerCycle != kNoTryBudget;
  Handshake hs;
  for (uint32_t cycle = 0; cycle < cycles; ++cycle) {
    if (port.Write(kSyncSentence.data(), static_cast<uint32_t>(kSyncSentence.size())) != kPortOk) {
      return kSyncSentenceFailed;
    }
    hs.StartCycle();
    uint64_t listeningSinceMs = port.handle->ClockMs();
    for (uint32_t pass = 0; !hs.cycleOver && pass < kSyncMaxPassesPerCycle; ++pass) {
      if (budgeted && hs.misses >= triesPerCycle) {
        // Polls run out faster on a faster computer; the answer may still be on its way.
        const bool listenedLongEnough =
            port.handle->ClockMs() - listeningSinceMs >= kSyncListenFloorMs;
        if (hs.state == 0 || hs.flooded || listenedLongEnough) {
          break;
        }
        SleepMs(port, 1);
      }
      if (hs.send) {
        port.Write(&kSyncPattern[hs.state], 1);
        listeningSinceMs = port.handle->ClockMs();
      }
      const auto v = static_cast<uint8_t>(~ReceiveAnswer(port, hs.misses, hs.flooded));
      if (TakeAnswer(port, v, triesPerCycle, hs)) {
        return 0;
      }
    }
  }
  return kSyncNoHandshake;
}

uint32_t Rom_TR7340::Boot(SerialPort& port, const BootRequest& request) {
  if (Sync(port) != 0) {
    return kBootSyncFailed;
  }
  SleepMs(port, kBootSettleMs);
  if (WriteMemory(port, loadAddress, request.data, request.length, request.startFn,
                  request.startUser, request.progressFn, request.progressUser) != 0) {
    return kBootWriteFailed;
  }
  if (Execute(port, loadAddress, true) != 0) {
    return kBootExecuteFailed;
  }
  return 0;
}

uint32_t Rom_TR7340::StartStage(SerialPort& port, uint32_t address, const BootRequest& request) {
  if (Sync(port) != 0) {
    return kBootSyncFailed;
  }
  SleepMs(port, kBootSettleMs);
  if (request.startFn != nullptr) {
    request.startFn(request.startUser);
  }
  if (WriteBlocks(port, address, request.data, request.length) != 0) {
    return kBootWriteFailed;
  }
  if (Execute(port, address, true) != 0) {
    return kBootExecuteFailed;
  }
  return 0;
}

}  // namespace tarvok
