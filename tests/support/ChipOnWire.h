// Puts a whole simulated chip behind a fake serial device. Bytes cross the wire garbled
// whenever the host's rate and the chip's differ, as between two real UARTs.
#pragma once

#include <vector>

#include "sim/Chip.h"
#include "tests/support/FakeSerialDevice.h"

namespace tarvok::testing {

class ChipOnWire {
 public:
  // A chip that starts in a running loader greets `greetingDelayUs` after power-on.
  ChipOnWire(FakeSerialDevice& device, const sim::ChipOptions& options,
             uint64_t greetingDelayUs = 0)
      : chip(options) {
    LineSettings settings;
    settings.baudRate = options.romRate;
    device.SetLineSettings(settings);
    std::vector<uint8_t> hello;
    chip.PowerOn(hello);
    device.PushInput(hello, greetingDelayUs);
    device.SetResponder([this](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      std::vector<uint8_t> answer;
      for (const uint8_t byte : bytes) {
        chip.Receive(d.BaudRate() == chip.Rate() ? byte : sim::Garble(byte), answer);
      }
      if (d.BaudRate() != chip.Rate()) {
        for (uint8_t& byte : answer) {
          byte = sim::Garble(byte);
        }
      }
      d.PushInput(answer);
      chip.SettleRate();
    });
  }
  ChipOnWire(const ChipOnWire&) = delete;
  ChipOnWire& operator=(const ChipOnWire&) = delete;

  sim::Chip chip;
};

}  // namespace tarvok::testing
