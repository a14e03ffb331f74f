// How long characters take on a serial line, for the device layers' bounded waits.
#pragma once

#include <cstdint>

#include "serial/SerialDevice.h"

namespace tarvok {

// One character's time in microseconds, rounded up: start bit, data, parity and stop bits.
inline int64_t CharacterTimeUs(const LineSettings& line) {
  const int64_t halfBits = 2 * (1 + int64_t{line.byteSize}) + (line.parity != kNoParity ? 2 : 0) +
                           (line.stopBits == kOneStopBit     ? 2
                            : line.stopBits == kOne5StopBits ? 3
                                                             : 4);
  const int64_t rate = line.baudRate != 0 ? line.baudRate : 9600;
  return (halfBits * 1'000'000 / 2 + rate - 1) / rate;
}

}  // namespace tarvok
