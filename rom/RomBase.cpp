#include "rom/RomBase.h"

#include <array>
#include <cstddef>

namespace tarvok {
namespace {

// Every ROM read gives up at the first OS read that brings nothing.
constexpr uint32_t kNoIdleRetries = 0;
constexpr uint32_t kIdleSleepMs = 100;

bool ReadExactly(SerialPort& port, uint8_t* buffer, uint32_t length) {
  return port.Read(buffer, length, kNoIdleRetries, kIdleSleepMs) == kPortOk;
}

// Words and halfwords travel most significant byte first. The status of SerialPort::Write.
template <typename Value>
uint32_t WriteBigEndian(SerialPort& port, Value value) {
  std::array<uint8_t, sizeof(Value)> bytes{};
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    bytes[k] = static_cast<uint8_t>(value >> (8 * (bytes.size() - 1 - k)));
  }
  return static_cast<uint32_t>(port.Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

// Sets `out` to 0 first; 1 if the read failed.
template <typename Value>
uint32_t ReadBigEndian(SerialPort& port, Value& out) {
  out = 0;
  std::array<uint8_t, sizeof(Value)> bytes{};
  if (!ReadExactly(port, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    return 1;
  }
  Value value = 0;
  for (const uint8_t byte : bytes) {
    value = static_cast<Value>((value << 8) | byte);
  }
  out = value;
  return 0;
}

// WriteMemory's progress: floor(done * 30 / total) steps, capped at 30, each reported once as
// it is reached.
class WriteProgress {
 public:
  WriteProgress(uint32_t total, StageProgressFn progressFn, void* progressUser)
      : total_(total), progressFn_(progressFn), progressUser_(progressUser) {}

  void Reached(uint64_t done) {
    if (progressFn_ == nullptr) {
      return;
    }
    const uint64_t uncapped = done * kRomProgressSteps / total_;
    const uint32_t step =
        uncapped > kRomProgressSteps ? kRomProgressSteps : static_cast<uint32_t>(uncapped);
    if (step != lastStep_) {
      lastStep_ = step;
      const auto percent = static_cast<uint8_t>(step * 100 / kRomProgressSteps);
      progressFn_(percent, static_cast<uint32_t>(done), total_, progressUser_);
    }
  }

 private:
  uint32_t total_;
  StageProgressFn progressFn_;
  void* progressUser_;
  uint32_t lastStep_ = 0;
};

// The halfword that starts at `offset`; a last odd byte stands alone.
uint16_t HalfwordAt(const uint8_t* data, uint64_t offset, uint32_t length) {
  const bool lastOddByte = offset + 1 >= length;
  return static_cast<uint16_t>(lastOddByte ? data[offset] : data[offset] | (data[offset + 1] << 8));
}

// The bulk path of WriteMemory: kRomBlockBytes bytes from `pairs` as halfwords, high byte
// first, then, after a pause, their echo. Folds the halfwords into `checksum`.
// 0; 6 write failed, 7 echo missing, 8 echo differs.
uint32_t SendBlock(SerialPort& port, const uint8_t* pairs, uint16_t& checksum) {
  std::array<uint8_t, kRomBlockBytes> block{};
  for (uint32_t k = 0; k < kRomBlockBytes; k += 2) {
    const uint8_t low = pairs[k];
    const uint8_t high = pairs[k + 1];
    block[k] = high;
    block[k + 1] = low;
    checksum = static_cast<uint16_t>(checksum ^ (low | (high << 8)));
  }
  if (port.Write(block.data(), kRomBlockBytes) != kPortOk) {
    return 6;
  }
  SleepMs(port, kRomBlockEchoPauseMs);
  std::array<uint8_t, kRomBlockBytes> echo{};
  if (!ReadExactly(port, echo.data(), kRomBlockBytes)) {
    return 7;
  }
  return echo == block ? 0 : 8;
}

}  // namespace

uint32_t Rom_Base::PutWord(SerialPort& port, uint32_t value) {
  return WriteBigEndian(port, value);
}

uint32_t Rom_Base::GetWord(SerialPort& port, uint32_t& out) {
  return ReadBigEndian(port, out);
}

uint32_t Rom_Base::PutHalfword(SerialPort& port, uint16_t value) {
  return WriteBigEndian(port, value);
}

uint32_t Rom_Base::GetHalfword(SerialPort& port, uint16_t& out) {
  return ReadBigEndian(port, out);
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

template <typename Value>
uint32_t Rom_Base::SendEchoed(SerialPort& port, Value value, bool verify, uint32_t pauseMs,
                              uint32_t (Rom_Base::*put)(SerialPort&, Value),
                              uint32_t (Rom_Base::*get)(SerialPort&, Value&)) {
  if ((this->*put)(port, value) != 0) {
    return 1;
  }
  if (!verify) {
    return 0;
  }
  SleepMs(port, pauseMs);
  Value echo = 0;
  if ((this->*get)(port, echo) != 0) {
    return 2;
  }
  return echo == value ? 0 : 3;
}

uint32_t Rom_Base::SendWord(SerialPort& port, uint32_t value, bool verify) {
  return SendEchoed(port, value, verify, kRomWordEchoPauseMs, &Rom_Base::PutWord,
                    &Rom_Base::GetWord);
}

uint32_t Rom_Base::SendHalfword(SerialPort& port, uint16_t value, bool verify) {
  return SendEchoed(port, value, verify, kRomHalfwordEchoPauseMs, &Rom_Base::PutHalfword,
                    &Rom_Base::GetHalfword);
}

uint32_t Rom_Base::SendHeader(SerialPort& port, uint8_t command, uint32_t address, uint32_t count) {
  if (SendCommand(port, command, nullptr) != 0) {
    return 1;
  }
  if (SendWord(port, address, true) != 0) {
    return 2;
  }
  if (SendWord(port, count, true) != 0) {
    return 3;
  }
  return 0;
}

template <typename ElementExchange>
uint32_t Rom_Base::ArrayCommand(SerialPort& port, uint8_t command, uint32_t address, uint32_t count,
                                ElementExchange element) {
  if (const uint32_t header = SendHeader(port, command, address, count); header != 0) {
    return header;
  }
  for (uint32_t k = 0; k < count; ++k) {
    if (element(k) != 0) {
      return 4;
    }
  }
  return 0;
}

uint32_t Rom_Base::WriteHalfwords(SerialPort& port, uint32_t address, const uint16_t* values,
                                  uint32_t count) {
  return ArrayCommand(port, kRomWriteHalfwords, address, count,
                      [&](uint32_t k) { return SendHalfword(port, values[k], true); });
}

uint32_t Rom_Base::ReadHalfwords(SerialPort& port, uint32_t address, uint16_t* out,
                                 uint32_t count) {
  return ArrayCommand(port, kRomReadHalfwords, address, count,
                      [&](uint32_t k) { return GetHalfword(port, out[k]); });
}

uint32_t Rom_Base::WriteWords(SerialPort& port, uint32_t address, const uint32_t* values,
                              uint32_t count) {
  return ArrayCommand(port, kRomWriteWords, address, count,
                      [&](uint32_t k) { return SendWord(port, values[k], true); });
}

uint32_t Rom_Base::ReadWords(SerialPort& port, uint32_t address, uint32_t* out, uint32_t count) {
  return ArrayCommand(port, kRomReadWords, address, count,
                      [&](uint32_t k) { return GetWord(port, out[k]); });
}

uint32_t Rom_Base::Checksum(SerialPort& port, uint32_t address, uint32_t count, uint16_t& out) {
  if (const uint32_t header = SendHeader(port, kRomChecksum, address, count); header != 0) {
    return header;
  }
  return GetHalfword(port, out) == 0 ? 0 : 4;
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
  // 2 command, 3 address, 4 count.
  if (const uint32_t header = SendHeader(port, kRomWriteHalfwords, address, halfwordCount);
      header != 0) {
    return header + 1;
  }

  WriteProgress progress(length, progressFn, progressUser);
  uint16_t checksum = 0;
  // 64 bits: after an odd length's last byte the offset stands one past the end.
  uint64_t offset = 0;
  while (offset < length) {
    if (length - offset > kRomBlockBytes) {
      if (const uint32_t block = SendBlock(port, data + offset, checksum); block != 0) {
        return block;
      }
      offset += kRomBlockBytes;
    } else {
      const uint16_t value = HalfwordAt(data, offset, length);
      if (SendHalfword(port, value, true) != 0) {
        return 5;
      }
      checksum = static_cast<uint16_t>(checksum ^ value);
      offset += 2;
    }
    progress.Reached(offset);
  }

  uint16_t answer = 0;
  if (Checksum(port, address, halfwordCount, answer) != 0) {
    return 9;
  }
  return answer == checksum ? 0 : 10;
}

uint32_t Rom_Base::WriteBlocks(SerialPort& port, uint32_t address, const uint8_t* data,
                               uint32_t length) {
  if (data == nullptr || length == 0 || length % kRomBlockBytes != 0) {
    return 1;
  }
  const uint32_t halfwordCount = length / 2;
  if (const uint32_t header = SendHeader(port, kRomWriteHalfwords, address, halfwordCount);
      header != 0) {
    return header + 1;
  }
  uint16_t checksum = 0;
  for (uint32_t offset = 0; offset < length; offset += kRomBlockBytes) {
    if (const uint32_t block = SendBlock(port, data + offset, checksum); block != 0) {
      return block;
    }
  }
  uint16_t answer = 0;
  if (Checksum(port, address, halfwordCount, answer) != 0) {
    return 9;
  }
  return answer == checksum ? 0 : 10;
}

}  // namespace tarvok
