#include "rom/RomBase.h"

#include <array>

namespace tarvok {
namespace {

// Every ROM read gives up at the first OS read that brings nothing.
constexpr uint32_t kNoIdleRetries = 0;
constexpr uint32_t kIdleSleepMs = 100;

bool ReadExactly(SerialPort& port, uint8_t* buffer, uint32_t length) {
  return port.Read(buffer, length, kNoIdleRetries, kIdleSleepMs) == kPortOk;
}

// Progress steps of WriteMemory: floor(done * 30 / total), capped at 30.
uint32_t ProgressStep(uint64_t done, uint64_t total) {
  const uint64_t step = done * kRomProgressSteps / total;
  return step > kRomProgressSteps ? kRomProgressSteps : static_cast<uint32_t>(step);
}

}  // namespace

uint32_t Rom_Base::PutWord(SerialPort& port, uint32_t value) {
  const std::array<uint8_t, 4> bytes = {
      static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
      static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return static_cast<uint32_t>(port.Write(bytes.data(), 4));
}

uint32_t Rom_Base::GetWord(SerialPort& port, uint32_t& out) {
  out = 0;
  std::array<uint8_t, 4> bytes{};
  if (!ReadExactly(port, bytes.data(), 4)) {
    return 1;
  }
  out = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
        uint32_t{bytes[3]};
  return 0;
}

uint32_t Rom_Base::PutHalfword(SerialPort& port, uint16_t value) {
  const std::array<uint8_t, 2> bytes = {static_cast<uint8_t>(value >> 8),
                                        static_cast<uint8_t>(value)};
  return static_cast<uint32_t>(port.Write(bytes.data(), 2));
}

uint32_t Rom_Base::GetHalfword(SerialPort& port, uint16_t& out) {
  out = 0;
  std::array<uint8_t, 2> bytes{};
  if (!ReadExactly(port, bytes.data(), 2)) {
    return 1;
  }
  out = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
  return 0;
}

uint32_t Rom_Base::SendCommand(SerialPort& port, uint8_t command, uint8_t* echoOut) {
  if (port.Write(&command, 1) != kPortOk) {
    return 1;
  }
  uint8_t echo = 0;
  if (!ReadExactly(port, &echo, 1)) {
    return 2;
  }
  if (echoOut != nullptr) {
    *echoOut = echo;
  }
  return echo == command ? 0 : 3;
}

uint32_t Rom_Base::SendWord(SerialPort& port, uint32_t value, bool verify) {
  if (PutWord(port, value) != 0) {
    return 1;
  }
  if (!verify) {
    return 0;
  }
  SleepMs(port, kRomWordEchoPauseMs);
  uint32_t echo = 0;
  if (GetWord(port, echo) != 0) {
    return 2;
  }
  return echo == value ? 0 : 3;
}

uint32_t Rom_Base::SendHalfword(SerialPort& port, uint16_t value, bool verify) {
  if (PutHalfword(port, value) != 0) {
    return 1;
  }
  if (!verify) {
    return 0;
  }
  SleepMs(port, kRomHalfwordEchoPauseMs);
  uint16_t echo = 0;
  if (GetHalfword(port, echo) != 0) {
    return 2;
  }
  return echo == value ? 0 : 3;
}

uint32_t Rom_Base::WriteHalfwords(SerialPort& port, uint32_t address, const uint16_t* values,
                                  uint32_t count) {
  if (SendCommand(port, kRomWriteHalfwords, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (SendHalfword(port, values[k], true) != 0) {
      return 4;
    }
  }
  return 0;
}

uint32_t Rom_Base::ReadHalfwords(SerialPort& port, uint32_t address, uint16_t* out,
                                 uint32_t count) {
  if (SendCommand(port, kRomReadHalfwords, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (GetHalfword(port, out[k]) != 0) {
      return 4;
    }
  }
  return 0;
}

uint32_t Rom_Base::WriteWords(SerialPort& port, uint32_t address, const uint32_t* values,
                              uint32_t count) {
  if (SendCommand(port, kRomWriteWords, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (SendWord(port, values[k], true) != 0) {
      return 4;
    }
  }
  return 0;
}

uint32_t Rom_Base::ReadWords(SerialPort& port, uint32_t address, uint32_t* out, uint32_t count) {
  if (SendCommand(port, kRomReadWords, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (GetWord(port, out[k]) != 0) {
      return 4;
    }
  }
  return 0;
}

uint32_t Rom_Base::Checksum(SerialPort& port, uint32_t address, uint32_t count, uint16_t& out) {
  if (SendCommand(port, kRomChecksum, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  if (GetHalfword(port, out) != 0) {
    return 4;
  }
  return 0;
}

uint32_t Rom_Base::Execute(SerialPort& port, uint32_t address, bool verify) {
  if (SendCommand(port, kRomExecute, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, verify) != 0) {
    return 2;
  }
  return 0;
}

// The ROM stores halfwords little-endian, so the buffer's pair (data[k], data[k+1]) is the
// halfword data[k] + 256 * data[k+1] and travels high byte first: data[k+1], then data[k].
uint32_t Rom_Base::WriteMemory(SerialPort& port, uint32_t address, const uint8_t* data,
                               uint32_t length, StageStartFn startFn, void* startUser,
                               StageProgressFn progressFn, void* progressUser) {
  if (data == nullptr || length == 0) {
    return 1;
  }
  const auto halfwordCount = static_cast<uint32_t>((uint64_t{length} + 1) / 2);
  if (startFn != nullptr) {
    startFn(startUser);
  }
  if (SendCommand(port, kRomWriteHalfwords, nullptr) != 0) {
    return 2;
  }
  if (SendWord(port, address, true) != 0) {
    return 3;
  }
  if (SendWord(port, halfwordCount, true) != 0) {
    return 4;
  }

  uint16_t checksum = 0;
  uint32_t lastStep = 0;
  // 64 bits: after an odd length's last byte the offset stands one past the end.
  uint64_t i = 0;
  std::array<uint8_t, kRomBlockBytes> block{};
  std::array<uint8_t, kRomBlockBytes> echo{};
  while (i < length) {
    if (length - i > kRomBlockBytes) {
      for (uint32_t k = 0; k < kRomBlockBytes; k += 2) {
        const uint8_t low = data[i + k];
        const uint8_t high = data[i + k + 1];
        block[k] = high;
        block[k + 1] = low;
        checksum = static_cast<uint16_t>(checksum ^ (low | (high << 8)));
      }
      if (port.Write(block.data(), kRomBlockBytes) != kPortOk) {
        return 6;
      }
      SleepMs(port, kRomBlockEchoPauseMs);
      if (!ReadExactly(port, echo.data(), kRomBlockBytes)) {
        return 7;
      }
      if (echo != block) {
        return 8;
      }
      i += kRomBlockBytes;
    } else {
      const bool lastOddByte = i + 1 >= length;
      const auto value =
          static_cast<uint16_t>(lastOddByte ? data[i] : data[i] | (data[i + 1] << 8));
      if (SendHalfword(port, value, true) != 0) {
        return 5;
      }
      checksum = static_cast<uint16_t>(checksum ^ value);
      i += 2;
    }

    if (progressFn != nullptr) {
      const uint32_t step = ProgressStep(i, length);
      if (step != lastStep) {
        lastStep = step;
        const auto percent = static_cast<uint8_t>(step * 100 / kRomProgressSteps);
        progressFn(percent, static_cast<uint32_t>(i), length, progressUser);
      }
    }
  }

  uint16_t answer = 0;
  if (Checksum(port, address, halfwordCount, answer) != 0) {
    return 9;
  }
  return answer == checksum ? 0 : 10;
}

}  // namespace tarvok
