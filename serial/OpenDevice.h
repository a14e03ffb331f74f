// Opening a serial device by its path on this platform.
#pragma once

#include <cstdint>
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

// Opens a local port by its path, or a port on a serial server by its network name
// (rfc2217://HOST:PORT, tcp://HOST:PORT; see NetworkPortName.h).
OpenResult OpenSerialDevice(const std::string& path);

// The platform's own serial port by its path.
OpenResult OpenLocalSerialDevice(const std::string& path);

// How long connecting to a serial server may take, its name's resolution included.
inline constexpr uint32_t kNetworkConnectTimeoutMs = 5000;

// A failed open, its reason for people "<path>: <what went wrong>". The platform gives the
// words for a refused permission and for an error of no kind in particular.
OpenResult FailedOpen(OpenFailure failure, const std::string& path, const std::string& forbidden,
                      const std::string& otherError);

}  // namespace tarvok
