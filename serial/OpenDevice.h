// Opening a serial device by its path on this platform.
#pragma once

#include <memory>
#include <string>

#include "serial/SerialDevice.h"

namespace tarvok {

enum class OpenFailure { kNone, kMissing, kBusy, kForbidden, kNotATty, kOther };

struct OpenResult {
  std::unique_ptr<SerialDevice> device;  // null when the open failed
  OpenFailure failure = OpenFailure::kNone;
  std::string reason;  // for people: what went wrong
};

OpenResult OpenSerialDevice(const std::string& path);

}  // namespace tarvok
