#include "sim/BootRom.h"

#include "sim/WireBytes.h"

#include <cstddef>

namespace tarvok::sim {
namespace {

constexpr uint8_t kPattern[4] = {0x90, 0x09, 0x60, 0x06};
constexpr uint8_t kWriteHalfwords = 0xA1;
constexpr uint8_t kReadHalfwords = 0xA2;
constexpr uint8_t kChecksum = 0xA4;
constexpr uint8_t kExecute = 0xA8;
constexpr uint8_t kWriteWords = 0xAE;
constexpr uint8_t kReadWords = 0xAF;

}  // namespace

BootRom::BootRom(uint32_t ramBytes) : ram_(ramBytes, 0) {}

void BootRom::Receive(uint8_t byte, std::vector<uint8_t>& out) {
  switch (mode_) {
    case Mode::kHandshake:
      if (!answerHandshake) {
        return;
      }
      // 0x90 always (re)starts the pattern; the rest must follow in order.
      if (byte == kPattern[0]) {
        handshakeIndex_ = 1;
      } else if (handshakeIndex_ > 0 && byte == kPattern[handshakeIndex_]) {
        ++handshakeIndex_;
      } else {
        handshakeIndex_ = 0;
        return;
      }
      out.push_back(static_cast<uint8_t>(~byte));
      if (handshakeIndex_ == 4) {
        mode_ = Mode::kCommand;
      }
      return;
    case Mode::kCommand:
      StartCommand(byte, out);
      return;
    case Mode::kParameters:
      out.push_back(byte);
      parameters_.push_back(byte);
      if (parameters_.size() == (command_ == kExecute ? 4u : 8u)) {
        ParametersComplete(out);
      }
      return;
    case Mode::kWriteData: {
      uint8_t echo = byte;
      if (corruptNextDataEcho) {
        corruptNextDataEcho = false;
        echo ^= 0x01;
      }
      out.push_back(echo);
      StoreDataByte(byte);
      if (--dataBytesLeft_ == 0) {
        mode_ = Mode::kCommand;
      }
      return;
    }
  }
}

void BootRom::StartCommand(uint8_t command, std::vector<uint8_t>& out) {
  if (command == kExecute && !knowsExecute) {
    return;
  }
  switch (command) {
    case kWriteHalfwords:
    case kReadHalfwords:
    case kChecksum:
    case kExecute:
    case kWriteWords:
    case kReadWords:
      out.push_back(command);
      command_ = command;
      parameters_.clear();
      mode_ = Mode::kParameters;
      return;
    default:
      return;  // unknown bytes get no answer
  }
}

void BootRom::ParametersComplete(std::vector<uint8_t>& out) {
  address_ = BigEndianWord(parameters_, 0);
  mode_ = Mode::kCommand;
  if (command_ == kExecute) {
    started_ = true;
    startAddress_ = address_;
    return;
  }
  count_ = BigEndianWord(parameters_, 4);
  switch (command_) {
    case kWriteHalfwords:
    case kWriteWords:
      dataBytesLeft_ = uint64_t{count_} * (command_ == kWriteWords ? 4 : 2);
      dataOffset_ = 0;
      if (dataBytesLeft_ > 0) {
        mode_ = Mode::kWriteData;
      }
      return;
    case kReadHalfwords:
      for (uint32_t k = 0; k < count_; ++k) {
        const uint32_t at = address_ + 2 * k;
        PutHalfwordBigEndian(static_cast<uint16_t>(RamByte(at) | (RamByte(at + 1) << 8)), out);
      }
      return;
    case kReadWords:
      for (uint32_t k = 0; k < count_; ++k) {
        for (uint32_t b = 4; b-- > 0;) {
          out.push_back(RamByte(address_ + 4 * k + b));
        }
      }
      return;
    case kChecksum: {
      uint16_t sum = 0;
      for (uint32_t k = 0; k < count_; ++k) {
        const uint32_t at = address_ + 2 * k;
        sum = static_cast<uint16_t>(sum ^ (RamByte(at) | (RamByte(at + 1) << 8)));
      }
      if (wrongChecksum) {
        sum = static_cast<uint16_t>(sum ^ 0x0100);
      }
      PutHalfwordBigEndian(sum, out);
      return;
    }
    default:
      return;
  }
}

// Values arrive most significant byte first and are stored little-endian.
void BootRom::StoreDataByte(uint8_t byte) {
  const uint64_t unit = command_ == kWriteWords ? 4 : 2;
  const uint64_t indexInUnit = dataOffset_ % unit;
  const uint64_t target = address_ + dataOffset_ - indexInUnit + (unit - 1 - indexInUnit);
  if (target < ram_.size()) {
    ram_[target] = byte;
  }
  ++dataOffset_;
}

uint8_t BootRom::RamByte(uint32_t address) const {
  return address < ram_.size() ? ram_[address] : 0;
}

void BootRom::PutHalfwordBigEndian(uint16_t value, std::vector<uint8_t>& out) const {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace tarvok::sim
