#include "app/StoppableDevice.h"

#include <algorithm>

#ifndef _WIN32
#include <errno.h>
#endif

namespace tarvok {
namespace {

// Long protocol waits (a patient read idles 1 s at a time) are slept in slices this long, so
// that a stop request is seen within one slice.
constexpr uint32_t kSleepSliceMs = 50;

#ifdef _WIN32
constexpr uint32_t kErrorAccessDenied = 5;  // a USB adapter unplugged under the handle
constexpr uint32_t kErrorBadCommand = 22;   // the driver no longer knows the device
constexpr uint32_t kErrorGenFailure = 31;   // the device stopped working
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kWsaConnectionAborted = 10053;  // a port on a serial server: connection lost
constexpr uint32_t kWsaConnectionReset = 10054;
constexpr uint32_t kStoppedError = 995;  // ERROR_OPERATION_ABORTED
#else
constexpr uint32_t kStoppedError = ECANCELED;
#endif

}  // namespace

bool IsDeviceGoneError(uint32_t osError) {
#ifdef _WIN32
  return osError == kErrorAccessDenied || osError == kErrorBadCommand ||
         osError == kErrorGenFailure || osError == kErrorDeviceNotConnected ||
         osError == kWsaConnectionAborted || osError == kWsaConnectionReset;
#else
  // A hang-up or an unplugged adapter fails reads and writes with EIO; calls on a device
  // whose driver has gone fail with ENXIO or ENODEV. A port on a serial server is gone when its
  // connection was closed or reset.
  return osError == EIO || osError == ENXIO || osError == ENODEV || osError == ECONNRESET ||
         osError == EPIPE;
#endif
}

StoppableDevice::StoppableDevice(SerialDevice& device, StopToken stop)
    : device_(device), stop_(stop) {
  lineKnown_ = device_.GetLineSettings(initialLine_);
}

bool StoppableDevice::Refuse() {
  stopped_ = true;
  return false;
}

bool StoppableDevice::Noted(bool succeeded) {
  if (!succeeded && IsDeviceGoneError(device_.LastError())) {
    wentAway_ = true;
  }
  return succeeded;
}

bool StoppableDevice::AskWhetherGone() {
  CommStatus status;
  Noted(device_.ClearError(status));
  return wentAway_;
}

bool StoppableDevice::RestoreLine() {
  const bool restored = !lineKnown_ || device_.SetLineSettings(initialLine_);
  return device_.Purge(kPurgeAll) && restored;
}

bool StoppableDevice::GetLineSettings(LineSettings& settings) {
  return Noted(device_.GetLineSettings(settings));
}

bool StoppableDevice::SetLineSettings(const LineSettings& settings) {
  return Noted(device_.SetLineSettings(settings));
}

bool StoppableDevice::ReadBackLineSettings(LineSettings& settings) {
  return Noted(device_.ReadBackLineSettings(settings));
}

bool StoppableDevice::SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
  return Noted(device_.SetQueueSizes(inputBytes, outputBytes));
}

bool StoppableDevice::SetTimeouts(const Timeouts& timeouts) {
  return Noted(device_.SetTimeouts(timeouts));
}

bool StoppableDevice::ClearError(CommStatus& status) {
  if (StopRequested()) {
    return Refuse();
  }
  return Noted(device_.ClearError(status));
}

bool StoppableDevice::ClearBreak() {
  return Noted(device_.ClearBreak());
}

bool StoppableDevice::GetModemStatus(uint32_t& lines) {
  return Noted(device_.GetModemStatus(lines));
}

bool StoppableDevice::Purge(uint32_t actions) {
  return Noted(device_.Purge(actions));
}

bool StoppableDevice::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  if (StopRequested()) {
    accepted = 0;
    return Refuse();
  }
  return Noted(device_.Write(data, length, accepted));
}

bool StoppableDevice::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  if (StopRequested()) {
    received = 0;
    return Refuse();
  }
  return Noted(device_.Read(buffer, length, received));
}

DrainResult StoppableDevice::Drain() {
  const DrainResult result = device_.Drain();
  Noted(result != DrainResult::kFailed);
  return result;
}

void StoppableDevice::Sleep(uint32_t ms) {
  if (ms == 0) {
    device_.Sleep(0);
    return;
  }
  while (ms > 0 && !StopRequested()) {
    const uint32_t slice = std::min(ms, kSleepSliceMs);
    device_.Sleep(slice);
    ms -= slice;
  }
}

uint32_t StoppableDevice::LastError() const {
  return stopped_ ? kStoppedError : device_.LastError();
}

void StoppableDevice::Close() {
  device_.Close();
}

}  // namespace tarvok
