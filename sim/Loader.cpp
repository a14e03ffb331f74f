#include "sim/Loader.h"

#include "sim/WireBytes.h"

#include "burn/LoaderLink.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace tarvok::sim {
namespace {

constexpr uint8_t kEchoTestValues = 11;

}  // namespace

uint32_t LoaderBaudRate(uint8_t code) {
  constexpr std::array<uint32_t, 15> kRates = {0,     921600, 460800, 230400, 115200,
                                               57600, 38400,  19200,  14400,  9600,
                                               4800,  2400,   1200,   300,    110};
  return code < kRates.size() ? kRates[code] : 0;
}

uint32_t FlashCrc(const Flash& flash, uint32_t first, uint32_t last) {
  uLong crc = crc32_z(0, nullptr, 0);
  if (last < first) {
    return static_cast<uint32_t>(crc);
  }
  const std::vector<uint8_t>& cells = flash.Cells();
  const uint64_t end = uint64_t{last} + 1;
  uint64_t at = first;
  if (at < cells.size()) {
    const uint64_t inFlash = std::min<uint64_t>(end, cells.size()) - at;
    crc = crc32_z(crc, cells.data() + at, inFlash);
    at += inFlash;
  }
  static const std::vector<uint8_t> kErased(Flash::kSectorBytes, 0xFF);
  while (at < end) {
    const uint64_t chunk = std::min<uint64_t>(end - at, kErased.size());
    crc = crc32_z(crc, kErased.data(), chunk);
    at += chunk;
  }
  return static_cast<uint32_t>(crc);
}

bool BendKeepingSum(std::vector<uint8_t>& bytes, std::size_t count) {
  for (std::size_t k = 0; k + 1 < count && k + 1 < bytes.size(); ++k) {
    if (bytes[k] < 0xFF && bytes[k + 1] > 0x00) {
      ++bytes[k];
      --bytes[k + 1];
      return true;
    }
    if (bytes[k] > 0x00 && bytes[k + 1] < 0xFF) {
      --bytes[k];
      ++bytes[k + 1];
      return true;
    }
  }
  return false;
}

Loader::Loader(Flash& flash, uint32_t rate, const LoaderFaults& faults)
    : flash_(flash), faults_(faults), rate_(rate), nextRate_(rate) {}

void Loader::Start(std::vector<uint8_t>& out) {
  if (faults_.busyInsteadOfHello) {
    out.push_back(kLoaderBusy);
    return;
  }
  out.insert(out.end(), {kLoaderHello, faults_.helloMajor, faults_.helloMinor});
}

void Loader::Collect(State next, uint32_t count) {
  state_ = next;
  wanted_ = count;
  collected_.clear();
}

void Loader::Receive(uint8_t byte, std::vector<uint8_t>& out) {
  SettleRate();
  switch (state_) {
    case State::kCommand:
      if (byte == kCmdSwitchBaud) {
        Collect(State::kSwitchArguments, 2);
      } else if (byte == kCmdFlashParameters) {
        Collect(State::kParameterArguments, 9);
      } else if (byte == kCmdStreamImage) {
        Collect(State::kHeaderArguments, 8);
      } else if (byte == LOADER_CMD_FLASH_CRC) {
        AnswerFlashCrc(out);
      } else if (byte == kCmdFinish) {
        stats_.finished = true;
        state_ = State::kStopped;
      }
      return;
    case State::kSwitchArguments:
    case State::kParameterArguments:
    case State::kHeaderArguments:
    case State::kBlock:
      collected_.push_back(byte);
      if (collected_.size() == wanted_ && state_ == State::kBlock) {
        BlockComplete(out);
      } else if (collected_.size() == wanted_) {
        ArgumentsComplete(out);
      }
      return;
    case State::kProbing:
      if (byte == kLoaderHello) {
        if (++stats_.probes >= faults_.firstEchoedProbe) {
          out.push_back(kLoaderHello);
        }
      } else if (byte == kAck) {
        out.push_back(kAck);
        echoLeft_ = uint32_t{echoRepeats_} * kEchoTestValues;
        state_ = echoLeft_ > 0 ? State::kEchoTest : State::kCommand;
      }
      return;
    case State::kEchoTest:
      out.push_back(byte);
      ++stats_.echoTestBytes;
      if (--echoLeft_ == 0) {
        state_ = State::kCommand;
      }
      return;
    case State::kAwaitResume:
      if (byte == kResyncOrFailed) {
        ++stats_.hardResyncs;
      } else if (byte == kBlockAccepted) {
        Collect(State::kBlock, CurrentBlockLength() + 2);
      }
      return;
    case State::kStopped:
      return;
  }
}

void Loader::ArgumentsComplete(std::vector<uint8_t>& out) {
  switch (state_) {
    case State::kSwitchArguments: {
      out.push_back(kAck);
      const uint32_t rate = LoaderBaudRate(collected_[0]);
      nextRate_ = rate != 0 ? rate : rate_;
      echoRepeats_ = collected_[1];
      state_ = State::kProbing;
      return;
    }
    case State::kParameterArguments: {
      imageStart_ = BigEndianWord(collected_, 1);
      const uint32_t end = BigEndianWord(collected_, 5);
      imageSize_ = end >= imageStart_ ? uint64_t{end} - imageStart_ + 1 : 0;
      accepted_ = AcceptedStream{};
      accepted_.parametersSeen = true;
      accepted_.eraseFlag = collected_[0];
      accepted_.startAddress = imageStart_;
      accepted_.endAddress = end;
      if (collected_[0] != 0 && !faults_.skipErase) {
        flash_.Erase(imageStart_, end);
        stats_.erased = true;
      }
      out.insert(out.end(), {kAck, faults_.eraseWait});
      state_ = State::kCommand;
      return;
    }
    case State::kHeaderArguments: {
      blockSize_ = BigEndianWord(collected_, 0);
      received_ = std::min<uint64_t>(4, imageSize_);
      accepted_.headerSeen = true;
      accepted_.blockSize = blockSize_;
      accepted_.headerData.assign(collected_.begin() + 4,
                                  collected_.begin() + 4 + static_cast<std::ptrdiff_t>(received_));
      accepted_.image = accepted_.headerData;
      accepted_.blockSums.clear();
      for (uint32_t k = 0; k < received_; ++k) {
        flash_.Program(imageStart_ + k, collected_[4 + k]);
        verifyFailed_ |= flash_.At(imageStart_ + k) != collected_[4 + k];
      }
      blockIndex_ = 0;
      rejectedThisBlock_ = 0;
      out.insert(out.end(), {kAck, kAck});
      if (blockSize_ == 0) {
        state_ = State::kStopped;
        return;
      }
      Collect(State::kBlock, CurrentBlockLength() + 2);
      EndOfStreamIfDone(out);
      return;
    }
    default:
      return;
  }
}

void Loader::AnswerFlashCrc(std::vector<uint8_t>& out) const {
  if (!accepted_.parametersSeen) {
    out.push_back(kReplyNoParameters);
    return;
  }
  uint32_t crc = FlashCrc(flash_, accepted_.startAddress, accepted_.endAddress);
  if (faults_.wrongCrc) {
    crc ^= 1;
  }
  out.insert(out.end(), {kAck, static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                         static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
}

uint32_t Loader::CurrentBlockLength() const {
  return static_cast<uint32_t>(std::min<uint64_t>(blockSize_, imageSize_ - received_));
}

void Loader::BlockComplete(std::vector<uint8_t>& out) {
  const uint32_t length = wanted_ - 2;
  if (blockIndex_ == faults_.bendBlock) {
    BendKeepingSum(collected_, length);
  }
  uint32_t sum = 0;
  for (uint32_t k = 0; k < length; ++k) {
    sum += collected_[k];
  }
  const auto expected = static_cast<uint16_t>((collected_[length] << 8) | collected_[length + 1]);
  if (blockIndex_ == faults_.replyCodeBlock) {
    out.push_back(faults_.replyCode);
    stats_.failureReplied = true;
    state_ = State::kStopped;
    return;
  }
  const bool forcedRejection =
      blockIndex_ == faults_.rejectBlock && rejectedThisBlock_ < faults_.rejectTimes;
  if (forcedRejection || static_cast<uint16_t>(sum) != expected) {
    Reject(out);
    return;
  }
  const uint64_t blockEnd = uint64_t{imageStart_} + received_ + length;
  if (blockEnd > flash_.Cells().size()) {
    out.push_back(kReplyOutsideFlash);  // in place of the block's acknowledgement; the stream ends
    stats_.failureReplied = true;
    state_ = State::kStopped;
    return;
  }
  for (uint32_t k = 0; k < length; ++k) {
    const auto address = static_cast<uint32_t>(imageStart_ + received_ + k);
    flash_.Program(address, collected_[k]);
    verifyFailed_ |= flash_.At(address) != collected_[k];
  }
  accepted_.image.insert(accepted_.image.end(), collected_.begin(),
                         collected_.begin() + static_cast<std::ptrdiff_t>(length));
  accepted_.blockSums.push_back(expected);
  received_ += length;
  ++blockIndex_;
  ++stats_.blocksAccepted;
  rejectedThisBlock_ = 0;
  out.push_back(kBlockAccepted);
  Collect(State::kBlock, CurrentBlockLength() + 2);
  EndOfStreamIfDone(out);
}

void Loader::Reject(std::vector<uint8_t>& out) {
  ++stats_.rejections;
  ++rejectedThisBlock_;
  // The rejection, then the acknowledgement the host's re-synchronisation waits for.
  out.insert(out.end(), {kBlockRejected, kAck});
  state_ = State::kAwaitResume;
}

void Loader::EndOfStreamIfDone(std::vector<uint8_t>& out) {
  if (received_ < imageSize_) {
    return;
  }
  stats_.trailerSent = true;
  accepted_.complete = true;
  stats_.streamOk = !verifyFailed_ && !faults_.finalFailure;
  out.insert(out.end(), {kAck, stats_.streamOk ? kAck : kResyncOrFailed});
  state_ = State::kCommand;
}

void Loader::OnSilence(std::vector<uint8_t>& out) {
  if (state_ == State::kBlock && !collected_.empty()) {
    Reject(out);
  }
}

}  // namespace tarvok::sim
