// Puts a simulated boot ROM behind a fake serial device: every byte the host writes goes to
// the ROM, and the ROM's answers arrive in the device's input queue at once.
#pragma once

#include <functional>
#include <vector>

#include "sim/BootRom.h"
#include "tests/support/FakeSerialDevice.h"

namespace tarvok::testing {

class RomOnWire {
 public:
  explicit RomOnWire(FakeSerialDevice& device) {
    device.SetResponder([this](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      std::vector<uint8_t> answer;
      for (const uint8_t byte : bytes) {
        rom.Receive(byte, answer);
      }
      if (tamper) {
        tamper(answer);
      }
      d.PushInput(answer);
    });
  }

  RomOnWire(const RomOnWire&) = delete;
  RomOnWire& operator=(const RomOnWire&) = delete;

  sim::BootRom rom;
  // Lets a test change what the ROM answers before it reaches the host.
  std::function<void(std::vector<uint8_t>&)> tamper;
};

}  // namespace tarvok::testing
