// What the protocol tests against the fake serial device share: the names they use for the
// bytes on the wire and the device's events, and the sizes of the host's writes. A test brings
// them in with `using namespace testing;` inside its own namespace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/FakeSerialDevice.h"
#include "tests/support/ProgressLog.h"

namespace tarvok::testing {

using Bytes = std::vector<uint8_t>;
using Kind = FakeSerialDevice::EventKind;

// The length of every write call the device accepted, in order.
inline std::vector<size_t> WriteSizes(const FakeSerialDevice& device) {
  std::vector<size_t> sizes;
  for (const auto& e : device.EventsOf(Kind::kWrite)) {
    sizes.push_back(e.bytes.size());
  }
  return sizes;
}

}  // namespace tarvok::testing
