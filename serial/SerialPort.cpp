#include "serial/SerialPort.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace tarvok {

int32_t SerialPort::GetBaudRate(uint32_t& rate) {
  if (isOpen == 0) {
    return kPortNotOpen;
  }
  LineSettings settings;
  if (!handle->GetLineSettings(settings)) {
    lastError = handle->LastError();
    return 2;
  }
  rate = settings.baudRate;
  return kPortOk;
}

int32_t SerialPort::SetBaudRate(uint32_t rate) {
  if (isOpen == 0) {
    return kPortNotOpen;
  }
  LineSettings settings;
  if (!handle->GetLineSettings(settings)) {
    lastError = handle->LastError();
    return 2;
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
  if (isOpen == 0) {
    return kPortNotOpen;
  }
  if (data == nullptr || length == 0) {
    return kPortBadArgument;
  }
  uint32_t written = 0;
  while (written < length) {
    const uint32_t asked = length - written;
    uint32_t accepted = 0;
    if (!handle->Write(data + written, asked, accepted)) {
      return kPortOsCallFailed;
    }
    if (accepted > asked) {
      accepted = asked;
    }
    written += accepted;
    if (accepted == 0) {
      return kPortIdle;
    }
  }
  handle->Sleep(0);
  if (handle->Drain() != DrainResult::kDrained) {
    return kPortNotDrained;
  }
  return kPortOk;
}

int32_t SerialPort::Read(uint8_t* buffer, uint32_t length, uint32_t maxIdleTries,
                         uint32_t idleSleepMs) {
  if (isOpen == 0) {
    return kPortNotOpen;
  }
  if (buffer == nullptr || length == 0) {
    return kPortBadArgument;
  }
  std::memset(buffer, 0, length);
  uint32_t received = 0;
  uint16_t idle = 0;
  while (received < length) {
    const uint32_t asked = length - received;
    uint32_t got = 0;
    if (!handle->Read(buffer + received, asked, got)) {
      return kPortOsCallFailed;
    }
    if (got > asked) {
      got = asked;
    }
    received += got;
    if (got == asked) {
      continue;
    }
    if (got == 0) {
      // The counter is 16 bits wide: at its top it ends the read whatever the budget, so a
      // budget of 65,536 or more cannot wrap it around into a read without end.
      if (static_cast<uint32_t>(idle) >= maxIdleTries || idle == UINT16_MAX) {
        return kPortIdle;
      }
      ++idle;
      handle->Sleep(idleSleepMs);
    } else {
      // A slow but steady sender never exhausts the idle budget.
      idle = 0;
    }
  }
  return kPortOk;
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
