#include "tests/fuzz/ChipModels.h"

#include <algorithm>
#include <cstddef>

namespace tarvok::fuzz {
namespace {

// The loader's bytes on the wire, both ways.
enum LoaderByte : uint8_t {
  kAck = 0x6B,
  kAccepted = 0xB9,  // a block taken; from the host, resume after a rejection
  kRejected = 0xA5,
  kProbe = 0xB0,  // the hello's first byte, and the switch's probe
  kSwitchBaud = 0xE1,
  kFlashParameters = 0xE2,
  kStreamImage = 0xE3,
  kFinish = 0xE5,
};

uint32_t BigEndianWord(const Bytes& bytes, size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
         (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

bool IsSyncPatternByte(uint8_t byte) {
  return byte == 0x90 || byte == 0x09 || byte == 0x60 || byte == 0x06;
}

bool TakesParameters(uint8_t command) {
  return command == 0xA1 || command == 0xA2 || command == 0xA4 || command == 0xA8 ||
         command == 0xAE || command == 0xAF;
}

}  // namespace

void RomModel::Receive(uint8_t byte, Bytes& out) {
  switch (mode_) {
    case Mode::kHandshake:
      // The sentence gets no answer; each pattern byte gets its complement.
      if (IsSyncPatternByte(byte)) {
        out.push_back(static_cast<uint8_t>(~byte));
        if (byte == 0x06) {
          mode_ = Mode::kCommand;
        }
      }
      return;
    case Mode::kCommand:
      out.push_back(byte);
      if (TakesParameters(byte)) {
        command_ = byte;
        collected_.clear();
        mode_ = Mode::kAddress;
      }
      return;
    case Mode::kAddress:
    case Mode::kCount:
      collected_.push_back(byte);
      if (collected_.size() % 4 == 0) {
        out.insert(out.end(), collected_.end() - 4, collected_.end());
        ParametersDone(out);
      }
      return;
    case Mode::kData:
      out.push_back(byte);
      if (command_ == 0xA1) {
        if (haveHigh_) {
          xorOfWritten_ = static_cast<uint16_t>(xorOfWritten_ ^ ((highByte_ << 8) | byte));
        }
        highByte_ = byte;
        haveHigh_ = !haveHigh_;
      }
      if (--dataBytes_ == 0) {
        mode_ = Mode::kCommand;
      }
      return;
    case Mode::kExecuted:
      return;
  }
}

void RomModel::ParametersDone(Bytes& out) {
  if (collected_.size() == 4) {
    if (command_ == 0xA8) {
      mode_ = Mode::kExecuted;
      return;
    }
    mode_ = Mode::kCount;
    return;
  }
  count_ = BigEndianWord(collected_, 4);
  mode_ = Mode::kCommand;
  switch (command_) {
    case 0xA1:
      xorOfWritten_ = 0;
      haveHigh_ = false;
      dataBytes_ = uint64_t{count_} * 2;
      break;
    case 0xAE:
      dataBytes_ = uint64_t{count_} * 4;
      break;
    case 0xA2:
    case 0xAF:
      // Chip memory this model does not keep reads as zeros (the host asks for a few).
      out.insert(out.end(), std::min<size_t>(count_, 4096) * (command_ == 0xA2 ? 2 : 4), 0);
      return;
    case 0xA4:
      out.push_back(static_cast<uint8_t>(xorOfWritten_ >> 8));
      out.push_back(static_cast<uint8_t>(xorOfWritten_));
      return;
    default:
      return;
  }
  if (dataBytes_ != 0) {
    mode_ = Mode::kData;
  }
}

void LoaderModel::Start(Bytes& out) {
  out.insert(out.end(), {kProbe, 0x01, 0x00});
}

void LoaderModel::Receive(uint8_t byte, Bytes& out) {
  switch (state_) {
    case State::kCommand:
      command_ = byte;
      collected_.clear();
      if (byte == kSwitchBaud || byte == kFlashParameters || byte == kStreamImage) {
        state_ = State::kArguments;
      } else if (byte == kFinish) {
        state_ = State::kFinished;
      }
      return;
    case State::kArguments:
      collected_.push_back(byte);
      ArgumentsDone(out);
      return;
    case State::kProbe:
      if (byte == kProbe) {
        out.push_back(kProbe);
      } else if (byte == kAck) {
        out.push_back(kAck);
        echoLeft_ = 11u * echoRepeats_;
        state_ = echoLeft_ != 0 ? State::kEchoTest : State::kCommand;
      }
      return;
    case State::kEchoTest:
      out.push_back(byte);
      if (--echoLeft_ == 0) {
        state_ = State::kCommand;
      }
      return;
    case State::kBlock:
      collected_.push_back(byte);
      if (collected_.size() == std::min<uint64_t>(blockSize_, remaining_) + 2) {
        BlockDone(out);
      }
      return;
    case State::kResync:
      // 0xB6 asks for the hard re-synchronisation; 0xB9 resumes with the block.
      if (byte == kAccepted) {
        collected_.clear();
        state_ = State::kBlock;
      }
      return;
    case State::kFinished:
      return;
  }
}

void LoaderModel::ArgumentsDone(Bytes& out) {
  const size_t have = collected_.size();
  if (command_ == kSwitchBaud && have == 2) {
    echoRepeats_ = collected_[1];
    out.push_back(kAck);
    state_ = State::kProbe;
  } else if (command_ == kFlashParameters && have == 9) {
    const uint32_t start = BigEndianWord(collected_, 1);
    const uint32_t end = BigEndianWord(collected_, 5);
    if (end >= start) {
      size_ = end - start + 1;
    }
    out.insert(out.end(), {kAck, eraseWait_});
    state_ = State::kCommand;
  } else if (command_ == kStreamImage && have == 8) {
    blockSize_ = std::max<uint32_t>(BigEndianWord(collected_, 0), 1);
    remaining_ = size_ > 4 ? size_ - 4 : 0;
    taken_.assign(collected_.begin() + 4, collected_.begin() + 4 + std::min<uint32_t>(size_, 4));
    out.insert(out.end(), {kAck, kAck});
    collected_.clear();
    state_ = State::kBlock;
    if (remaining_ == 0) {
      out.insert(out.end(), {kAck, kAck});
      state_ = State::kCommand;
    }
  }
}

void LoaderModel::BlockDone(Bytes& out) {
  const size_t length = collected_.size() - 2;
  uint32_t sum = 0;
  for (size_t k = 0; k < length; ++k) {
    sum += collected_[k];
  }
  const auto expected = static_cast<uint16_t>((collected_[length] << 8) | collected_[length + 1]);
  if (static_cast<uint16_t>(sum) != expected) {
    // The rejection, then the acknowledgement the host's re-synchronisation waits for.
    out.insert(out.end(), {kRejected, kAck});
    collected_.clear();
    state_ = State::kResync;
    return;
  }
  out.push_back(kAccepted);
  taken_.insert(taken_.end(), collected_.begin(),
                collected_.begin() + static_cast<std::ptrdiff_t>(length));
  collected_.clear();
  remaining_ -= length;
  if (remaining_ == 0) {
    out.insert(out.end(), {kAck, kAck});
    state_ = State::kCommand;
  }
}

void WholeChipModel::Receive(uint8_t byte, Bytes& out) {
  if (!rom_.Executed()) {
    rom_.Receive(byte, out);
    if (rom_.Executed()) {
      loader_.Start(out);
    }
    return;
  }
  loader_.Receive(byte, out);
}

}  // namespace tarvok::fuzz
