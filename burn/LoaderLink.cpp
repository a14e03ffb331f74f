#include "burn/LoaderLink.h"

#include <algorithm>

namespace tarvok {
namespace {

// Read patterns (length, idle retries, idle sleep) of the loader protocol. Each OS read
// waits up to 10 ms per byte + 500 ms, so a silent line ends them after about:
// 0.5 s (one empty read, no retry).
bool ReadWithinHalfASecond(SerialPort& port, uint8_t* buffer, uint32_t length) {
  return port.Read(buffer, length, 0, 100) == kPortOk;
}
bool ReadByteWithinHalfASecond(SerialPort& port, uint8_t& byte) {
  return ReadWithinHalfASecond(port, &byte, 1);
}
// 16 s (11 empty reads and 10 pauses of 1 s): the loader erasing or programming.
bool ReadWithin16Seconds(SerialPort& port, uint8_t& byte) {
  return port.Read(&byte, 1, 10, 1000) == kPortOk;
}
// 31 s (51 empty reads and 50 pauses of 0.1 s): the loader's answer to the probes' end.
bool ReadWithin31Seconds(SerialPort& port, uint8_t& byte) {
  return port.Read(&byte, 1, 50, 100) == kPortOk;
}
// 3 minutes (121 empty reads and 120 pauses of 1 s): the loader finishing the flash.
bool ReadWithin3Minutes(SerialPort& port, uint8_t& byte) {
  return port.Read(&byte, 1, 120, 1000) == kPortOk;
}
bool WriteByte(SerialPort& port, uint8_t byte) {
  return port.Write(&byte, 1) == kPortOk;
}

std::array<uint8_t, 4> BigEndian(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

constexpr uint32_t kAddressMask = 0x07FFFFFF;
constexpr uint32_t kSettleAfterRateChangeMs = 100;
constexpr uint32_t kProbes = 10;
constexpr uint8_t kEchoTestValues = 11;  // 0x00 to 0x0A
constexpr uint32_t kPlainResyncs = 3;
// The loader's erase-wait byte counts units of 229376 / 100000 ms.
constexpr uint32_t kEraseWaitNumerator = 229376;
constexpr uint32_t kEraseWaitDenominator = 100000;
constexpr uint8_t kErasedFlash = 0xFF;

using ReadByteFn = bool (*)(SerialPort&, uint8_t&);

// The loader's acknowledgement, read with `read`: 0 a k; `noReply` when nothing came in
// time, `notAck` when another byte did.
uint32_t ExpectAck(SerialPort& port, ReadByteFn read, uint32_t noReply, uint32_t notAck) {
  uint8_t reply = 0;
  if (!read(port, reply)) {
    return noReply;
  }
  return reply == kAck ? 0 : notAck;
}

// Probes the new rate with B0, up to ten times: true as soon as the loader echoes one.
bool ProbeEchoed(SerialPort& port) {
  for (uint32_t probe = 0; probe < kProbes; ++probe) {
    uint8_t echo = 0;
    if (WriteByte(port, kLoaderHello) && ReadByteWithinHalfASecond(port, echo) &&
        echo == kLoaderHello) {
      return true;
    }
  }
  return false;
}

// Echo test: each value 0x00 to 0x0A, `repeats` times each, every byte echoed before the
// next. 0; 11 write failed, 12 echo differs, 13 no echo.
uint32_t RunEchoTest(SerialPort& port, uint8_t repeats) {
  for (uint8_t value = 0; value < kEchoTestValues; ++value) {
    for (uint8_t repeat = 0; repeat < repeats; ++repeat) {
      if (!WriteByte(port, value)) {
        return 11;
      }
      uint8_t echo = 0;
      if (!ReadByteWithinHalfASecond(port, echo)) {
        return 13;
      }
      if (echo != value) {
        return 12;
      }
    }
  }
  return 0;
}

}  // namespace

uint32_t LoaderLink::ReadHello(SerialPort& port, LoaderHello* hello) const {
  if (hello == nullptr) {
    return 2;
  }
  *hello = LoaderHello{};
  hello->started = 1;
  uint8_t first = 0;
  if (!ReadByteWithinHalfASecond(port, first)) {
    return 8;
  }
  if (first == kLoaderBusy) {
    return 16;
  }
  if (first != kLoaderHello) {
    return 9;
  }
  std::array<uint8_t, 2> version{};
  if (!ReadWithinHalfASecond(port, version.data(), 2)) {
    return 8;
  }
  hello->major = version[0];
  hello->minor = version[1];
  return hello->major == 1 && hello->minor == 0 ? 0 : 10;
}

uint32_t LoaderLink::SwitchBaud(SerialPort& port, uint8_t baudCode, uint8_t echoRepeats) const {
  if (baudCode < 1 || baudCode > kMaxBaudCode) {
    return 1;
  }
  const std::array<uint8_t, 3> command = {kCmdSwitchBaud, baudCode, echoRepeats};
  if (port.Write(command.data(), 3) != kPortOk) {
    return 2;
  }
  if (const uint32_t ack = ExpectAck(port, ReadByteWithinHalfASecond, 3, 4); ack != 0) {
    return ack;
  }
  if (port.SetBaudRate(baudRates[baudCode]) != kPortOk) {
    return 5;
  }
  SleepMs(port, kSettleAfterRateChangeMs);
  if (!ProbeEchoed(port)) {
    return 7;
  }
  if (!WriteByte(port, kAck)) {
    return 8;
  }
  if (const uint32_t ack = ExpectAck(port, ReadWithin31Seconds, 10, 9); ack != 0) {
    return ack;
  }
  return RunEchoTest(port, echoRepeats);
}

uint32_t LoaderLink::SetFlashParameters(SerialPort& port, FlashImage* image) const {
  if (image == nullptr) {
    return 1;
  }
  const std::array<uint8_t, 2> command = {kCmdFlashParameters,
                                          static_cast<uint8_t>(image->eraseFlag & 0xFF)};
  if (port.Write(command.data(), 2) != kPortOk) {
    return 2;
  }
  if (port.Write(BigEndian(image->startAddress & kAddressMask).data(), 4) != kPortOk) {
    return 3;
  }
  if (port.Write(BigEndian(image->endAddress & kAddressMask).data(), 4) != kPortOk) {
    return 4;
  }
  if (const uint32_t ack = ExpectAck(port, ReadByteWithinHalfASecond, 5, 6); ack != 0) {
    return ack;
  }
  uint8_t eraseWait = 0;
  if (!ReadByteWithinHalfASecond(port, eraseWait)) {
    return 7;
  }
  image->eraseWait = eraseWait;
  return 0;
}

uint32_t LoaderLink::StreamImage(SerialPort& port, FlashImage* image, uint32_t blockCount,
                                 StageStartFn startFn, void* startUser, StageProgressFn progressFn,
                                 void* progressUser) const {
  if (image == nullptr) {
    return 1;
  }
  // A block size of 0 would never advance through the image.
  if (image->IsValid() != 0 || image->blockSize == 0) {
    return 2;
  }
  const uint8_t* data = image->data.get();
  const uint32_t size = image->size;

  // The header carries the first four image bytes; a shorter image is padded with the
  // erased-flash value, which programs nothing.
  std::array<uint8_t, 9> header{};
  header[0] = kCmdStreamImage;
  const auto blockSizeBytes = BigEndian(image->blockSize);
  std::copy(blockSizeBytes.begin(), blockSizeBytes.end(), header.begin() + 1);
  for (uint32_t k = 0; k < 4; ++k) {
    header[5 + k] = k < size ? data[k] : kErasedFlash;
  }
  if (port.Write(header.data(), static_cast<uint32_t>(header.size())) != kPortOk) {
    return 3;
  }
  if (startFn != nullptr) {
    startFn(startUser);
  }
  uint32_t steps = blockCount;
  if (steps == 0) {
    steps = std::max<uint32_t>(size / kBytesPerProgressStep, 1);
  }
  if (image->eraseWait != 0) {
    SleepMs(port, image->eraseWait * kEraseWaitNumerator / kEraseWaitDenominator);
  }
  uint8_t reply = 0;
  if (!ReadWithin16Seconds(port, reply)) {
    return 4;
  }
  if (reply != kAck) {
    return 5;
  }
  if (!ReadWithin16Seconds(port, reply)) {
    return 6;
  }
  if (reply != kAck) {
    return 7;
  }

  uint32_t offset = 4;
  uint32_t done = 0;
  uint32_t lastStep = 0;
  uint32_t rejections = 0;  // of the current block, in a row
  while (offset < size) {
    const uint32_t length = std::min(image->blockSize, size - offset);
    const uint8_t* block = data + offset;
    if (port.Write(block, length) == kPortOk) {
      uint32_t sum = 0;
      for (uint32_t k = 0; k < length; ++k) {
        sum += block[k];
      }
      const std::array<uint8_t, 2> sumBytes = {static_cast<uint8_t>(sum >> 8),
                                               static_cast<uint8_t>(sum)};
      port.Write(sumBytes.data(), 2);
    }
    if (!ReadWithin16Seconds(port, reply)) {
      return 8;
    }
    switch (reply) {
      case kBlockAccepted:
        offset += length;
        done += length;
        rejections = 0;
        break;
      case 5:
        return 9;
      case 6:
        return 10;
      case 7:
        return 11;
      default:
        // Rejected: re-synchronise and send the block again. From the fourth rejection in
        // a row on, the host asks for a hard re-synchronisation first.
        if (++rejections >= kMaxBlockRejections) {
          return kStreamTooManyRejections;
        }
        if (rejections > kPlainResyncs && !WriteByte(port, kResyncOrFailed)) {
          return 12;
        }
        if (!ReadWithin3Minutes(port, reply)) {
          return 13;
        }
        if (reply != kAck) {
          return 14;
        }
        if (!WriteByte(port, kBlockAccepted)) {
          return 15;
        }
        continue;
    }
    const auto step =
        std::min(static_cast<uint32_t>(static_cast<double>(done) / size * steps), steps);
    if (step != lastStep) {
      lastStep = step;
      if (progressFn != nullptr) {
        const auto percent = static_cast<uint8_t>(static_cast<double>(step) / steps * 100);
        progressFn(percent, done, size, progressUser);
      }
    }
  }

  if (!ReadWithin3Minutes(port, reply)) {
    return 16;
  }
  if (reply != kAck) {
    return 17;
  }
  if (!ReadWithin3Minutes(port, reply)) {
    return 18;
  }
  if (reply == kResyncOrFailed) {
    return 19;
  }
  if (reply != kAck) {
    return 20;
  }
  if (progressFn != nullptr) {
    progressFn(100, done, size, progressUser);
  }
  return 0;
}

uint32_t LoaderLink::Finish(SerialPort& port) const {
  return WriteByte(port, kCmdFinish) ? 0 : 1;
}

}  // namespace tarvok
