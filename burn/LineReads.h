// How long the host waits for the chip's side of the loader protocol and the boot stage: the
// read patterns (length, idle retries, idle sleep) of SerialPort::Read, named by how long a
// silent line holds them. Each OS read waits up to 10 ms per byte + 500 ms.
#pragma once

#include <array>
#include <cstdint>

#include "serial/SerialPort.h"

namespace tarvok {

// 0.5 s (one empty read, no retry).
inline bool ReadWithinHalfASecond(SerialPort& port, uint8_t* buffer, uint32_t length) {
  return port.Read(buffer, length, 0, 100) == kPortOk;
}
inline bool ReadByteWithinHalfASecond(SerialPort& port, uint8_t& byte) {
  return ReadWithinHalfASecond(port, &byte, 1);
}
// 16 s (11 empty reads and 10 pauses of 1 s): the loader erasing or programming.
inline bool ReadWithin16Seconds(SerialPort& port, uint8_t& byte) {
  return port.Read(&byte, 1, 10, 1000) == kPortOk;
}
// 31 s (51 empty reads and 50 pauses of 0.1 s): the loader's answer to the probes' end.
inline bool ReadWithin31Seconds(SerialPort& port, uint8_t& byte) {
  return port.Read(&byte, 1, 50, 100) == kPortOk;
}
// 3 minutes (121 empty reads and 120 pauses of 1 s): the loader finishing the flash.
inline bool ReadWithin3Minutes(SerialPort& port, uint8_t* buffer, uint32_t length) {
  return port.Read(buffer, length, 120, 1000) == kPortOk;
}
inline bool ReadWithin3Minutes(SerialPort& port, uint8_t& byte) {
  return ReadWithin3Minutes(port, &byte, 1);
}
inline bool WriteByte(SerialPort& port, uint8_t byte) {
  return port.Write(&byte, 1) == kPortOk;
}

// Probes a new rate: sends `probe` up to ten times, each followed by a read of half a second,
// until one is answered with `answer`. A failed write or read, or another byte, uses a probe up.
inline bool ProbeAnswered(SerialPort& port, uint8_t probe, uint8_t answer) {
  constexpr uint32_t kProbes = 10;
  for (uint32_t k = 0; k < kProbes; ++k) {
    uint8_t reply = 0;
    if (WriteByte(port, probe) && ReadByteWithinHalfASecond(port, reply) && reply == answer) {
      return true;
    }
  }
  return false;
}

inline std::array<uint8_t, 4> BigEndian(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

}  // namespace tarvok
