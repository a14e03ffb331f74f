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

// A failed open, its reason for people "<path>: <what went wrong>". The platform gives the
// words for a refused permission and for an error of no kind in particular.
OpenResult FailedOpen(OpenFailure failure, const std::string& path, const std::string& forbidden,
                      const std::string& otherError);

}  // namespace tarvok
