#include "serial/SerialPort.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace tarvok {
namespace {

// What GetBaudRate and SetBaudRate start with. 0; 1 not open; 2 the device could not say
// (its OS error kept in `lastError`).
int32_t ReadLineSettings(SerialPort& port, LineSettings& settings) {
  if (port.isOpen == 0) {
    return kPortNotOpen;
  }
  if (!port.handle->GetLineSettings(settings)) {
    port.lastError = port.handle->LastError();
    return 2;
  }
  return kPortOk;
}

// What Write and Read check before they touch the device.
int32_t CheckTransfer(const SerialPort& port, const uint8_t* buffer, uint32_t length) {
  if (port.isOpen == 0) {
    return kPortNotOpen;
  }
  if (buffer == nullptr || length == 0) {
    return kPortBadArgument;
  }
  return kPortOk;
}

// The loop of Write and Read: hands the rest of the `length` bytes to `osCall(offset, asked,
// moved)` until all have moved, holding a call that reports more than it was asked to what
// it was asked. After a call that moved less than the rest, `afterShortCall(moved)` says
// whether to go on (kPortOk) or with which status to stop.
template <typename OsCall, typename AfterShortCall>
int32_t TransferAll(uint32_t length, OsCall osCall, AfterShortCall afterShortCall) {
  uint32_t done = 0;
  while (done < length) {
    const uint32_t asked = length - done;
    uint32_t moved = 0;
    if (!osCall(done, asked, moved)) {
      return kPortOsCallFailed;
    }
    if (moved > asked) {
      moved = asked;
    }
    done += moved;
    if (moved == asked) {
      continue;
    }
    if (const int32_t status = afterShortCall(moved); status != kPortOk) {
      return status;
    }
  }
  return kPortOk;
}

}  // namespace

int32_t SerialPort::GetBaudRate(uint32_t& rate) {
  LineSettings settings;
  if (const int32_t read = ReadLineSettings(*this, settings); read != kPortOk) {
    return read;
  }
  rate = settings.baudRate;
  return kPortOk;
}

int32_t SerialPort::SetBaudRate(uint32_t rate) {
  LineSettings settings;
  if (const int32_t read = ReadLineSettings(*this, settings); read != kPortOk) {
    return read;
  }
  // Bytes still leaving at the old rate would be garbled by the change.
  const bool drained = handle->Drain() == DrainResult::kDrained;
  if (settings.baudRate != rate) {
    // The driver's queue can be empty while an adapter's own FIFO still sends, and some
    // adapters take a new divisor a moment after they accept it: keep the line quiet on both
    // sides of the change.
    handle->Sleep(kRateChangeGuardMs);
    settings.baudRate = rate;
    if (!handle->SetLineSettings(settings)) {
      lastError = handle->LastError();
      return 3;
    }
    handle->Sleep(kRateChangeGuardMs);
  }
  // Whatever has arrived belongs to the old rate.
  if (!handle->Purge(drained ? kPurgeInput : kPurgeAll)) {
    return 4;
  }
  return kPortOk;
}

int32_t SerialPort::Write(const uint8_t* data, uint32_t length) {
  if (const int32_t usable = CheckTransfer(*this, data, length); usable != kPortOk) {
    return usable;
  }
  const auto writeRest = [&](uint32_t offset, uint32_t asked, uint32_t& accepted) {
    return handle->Write(data + offset, asked, accepted);
  };
  // A write that takes nothing will take nothing the next time either.
  const auto afterShortWrite = [](uint32_t accepted) {
    return accepted == 0 ? kPortIdle : kPortOk;
  };
  if (const int32_t written = TransferAll(length, writeRest, afterShortWrite); written != kPortOk) {
    return written;
  }
  handle->Sleep(0);
  if (handle->Drain() != DrainResult::kDrained) {
    return kPortNotDrained;
  }
  return kPortOk;
}

int32_t SerialPort::Read(uint8_t* buffer, uint32_t length, uint32_t maxIdleTries,
                         uint32_t idleSleepMs) {
  if (const int32_t usable = CheckTransfer(*this, buffer, length); usable != kPortOk) {
    return usable;
  }
  std::memset(buffer, 0, length);
  const auto readRest = [&](uint32_t offset, uint32_t asked, uint32_t& got) {
    return handle->Read(buffer + offset, asked, got);
  };
  // An empty read spends the idle budget and sleeps; any bytes restore it, so a slow but
  // steady sender never exhausts it. The counter is 16 bits wide: at its top it ends the read
  // whatever the budget, so a budget of 65,536 or more cannot wrap it around into a read
  // without end.
  uint16_t idle = 0;
  const auto afterShortRead = [&](uint32_t got) {
    if (got != 0) {
      idle = 0;
      return kPortOk;
    }
    if (static_cast<uint32_t>(idle) >= maxIdleTries || idle == UINT16_MAX) {
      return kPortIdle;
    }
    ++idle;
    handle->Sleep(idleSleepMs);
    return kPortOk;
  };
  return TransferAll(length, readRest, afterShortRead);
}

int32_t SerialPort::GetInputCount(uint32_t& count) {
  if (isOpen == 0) {
    return kPortNotOpen;
  }
  CommStatus status;
  if (!handle->ClearError(status) || status.errors != 0) {
    return 2;
  }
  count = status.inputCount;
  return kPortOk;
}

bool DrainAndPurge(SerialDevice& device) {
  const bool drained = device.Drain() == DrainResult::kDrained;
  return device.Purge(drained ? kPurgeInput : kPurgeAll);
}

void SleepMs(const SerialPort& port, uint32_t ms) {
  if (port.handle != nullptr) {
    port.handle->Sleep(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

}  // namespace tarvok
