#include "burn/LoaderLink.h"

#include <algorithm>

#include "burn/LineReads.h"

namespace tarvok {
namespace {

// The image stream's default progress granularity: one step per this many image bytes.
constexpr uint32_t kBytesPerProgressStep = 3840;

constexpr uint32_t kAddressMask = 0x07FFFFFF;
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

// The stream header: E3, the block size and the image's first four bytes. A shorter image is
// padded with the erased-flash value, which programs nothing.
bool WriteStreamHeader(SerialPort& port, const FlashImage& image) {
  std::array<uint8_t, 9> header{};
  header[0] = kCmdStreamImage;
  const auto blockSizeBytes = BigEndian(image.blockSize);
  std::copy(blockSizeBytes.begin(), blockSizeBytes.end(), header.begin() + 1);
  for (uint32_t k = 0; k < 4; ++k) {
    header[5 + k] = k < image.size ? image.data[k] : kErasedFlash;
  }
  return port.Write(header.data(), static_cast<uint32_t>(header.size())) == kPortOk;
}

// The header's two acknowledgements, after the erase wait the loader asked for. 0; 4, 5 the
// first; 6, 7 the second.
uint32_t AwaitHeaderAcks(SerialPort& port, uint8_t eraseWait) {
  if (eraseWait != 0) {
    SleepMs(port, eraseWait * kEraseWaitNumerator / kEraseWaitDenominator);
  }
  if (const uint32_t first = ExpectAck(port, ReadWithin16Seconds, 4, 5); first != 0) {
    return first;
  }
  return ExpectAck(port, ReadWithin16Seconds, 6, 7);
}

// One block: its bytes, then their 16-bit sum, high byte first. A failed write shows in the
// loader's reply (or its silence).
void WriteBlock(SerialPort& port, const uint8_t* block, uint32_t length) {
  if (port.Write(block, length) != kPortOk) {
    return;
  }
  uint32_t sum = 0;
  for (uint32_t k = 0; k < length; ++k) {
    sum += block[k];
  }
  const std::array<uint8_t, 2> sumBytes = {static_cast<uint8_t>(sum >> 8),
                                           static_cast<uint8_t>(sum)};
  port.Write(sumBytes.data(), 2);
}

// Sends one block and reads the loader's reply to it. 0 with `accepted` telling whether the
// loader took it or rejected it; 8 no reply; 9 beyond the end of the flash, 10 the flash
// failed, 11 no flash parameters.
uint32_t SendBlock(SerialPort& port, const uint8_t* block, uint32_t length, bool& accepted) {
  WriteBlock(port, block, length);
  uint8_t reply = 0;
  if (!ReadWithin16Seconds(port, reply)) {
    return 8;
  }
  switch (reply) {
    case kReplyOutsideFlash:
      return 9;
    case kReplyFlashError:
      return 10;
    case kReplyNoParameters:
      return 11;
    default:
      accepted = reply == kBlockAccepted;
      return 0;
  }
}

// After the `rejections`-th rejection of a block in a row: from the fourth on a hard
// re-synchronisation (B6) first; then the loader's k, and B9 to resume. 0; 12 B6 not
// written; 13 no k, 14 another byte; 15 B9 not written.
uint32_t Resynchronise(SerialPort& port, uint32_t rejections) {
  if (rejections > kPlainResyncs && !WriteByte(port, kResyncOrFailed)) {
    return 12;
  }
  if (const uint32_t ack = ExpectAck(port, ReadWithin3Minutes, 13, 14); ack != 0) {
    return ack;
  }
  return WriteByte(port, kBlockAccepted) ? 0 : 15;
}

// The trailer: k after the last block, then k when the flash holds what was written or B6
// when it does not. 0; 16 no k, 17 another byte; 18 no verdict, 19 B6, 20 another byte.
uint32_t ReadTrailer(SerialPort& port) {
  if (const uint32_t first = ExpectAck(port, ReadWithin3Minutes, 16, 17); first != 0) {
    return first;
  }
  uint8_t verdict = 0;
  if (!ReadWithin3Minutes(port, verdict)) {
    return 18;
  }
  if (verdict == kResyncOrFailed) {
    return 19;
  }
  return verdict == kAck ? 0 : 20;
}

// The image stream's progress: `steps` even steps over the image's bytes, each reported as it
// is reached, and 100 % once the loader has confirmed the stream.
class StreamProgress {
 public:
  // `steps` 0 derives them from the size: one per kBytesPerProgressStep bytes, at least one.
  StreamProgress(uint32_t steps, uint32_t size, StageProgressFn progressFn, void* progressUser)
      : steps_(steps != 0 ? steps : std::max<uint32_t>(size / kBytesPerProgressStep, 1)),
        size_(size),
        progressFn_(progressFn),
        progressUser_(progressUser) {}

  void Accepted(uint32_t blockBytes) {
    done_ += blockBytes;
    const auto step =
        std::min(static_cast<uint32_t>(static_cast<double>(done_) / size_ * steps_), steps_);
    if (step != lastStep_) {
      lastStep_ = step;
      if (progressFn_ != nullptr) {
        const auto percent = static_cast<uint8_t>(static_cast<double>(step) / steps_ * 100);
        progressFn_(percent, done_, size_, progressUser_);
      }
    }
  }

  void Complete() const {
    if (progressFn_ != nullptr) {
      progressFn_(100, done_, size_, progressUser_);
    }
  }

 private:
  uint32_t steps_;
  uint32_t size_;
  StageProgressFn progressFn_;
  void* progressUser_;
  uint32_t done_ = 0;
  uint32_t lastStep_ = 0;
};

// The blocks after the header's four bytes, each sent again after a rejection until the
// loader takes it. 0; 8-11 as SendBlock; 12-15 as Resynchronise; kStreamTooManyRejections.
uint32_t SendBlocks(SerialPort& port, const FlashImage& image, StreamProgress& progress) {
  const uint32_t size = image.size;
  uint32_t offset = 4;
  uint32_t rejections = 0;  // of the current block, in a row
  while (offset < size) {
    const uint32_t length = std::min(image.blockSize, size - offset);
    bool accepted = false;
    if (const uint32_t sent = SendBlock(port, image.data.get() + offset, length, accepted);
        sent != 0) {
      return sent;
    }
    if (accepted) {
      offset += length;
      rejections = 0;
      progress.Accepted(length);
      continue;
    }
    if (++rejections >= kMaxBlockRejections) {
      return kStreamTooManyRejections;
    }
    if (const uint32_t resync = Resynchronise(port, rejections); resync != 0) {
      return resync;
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
  if (!ProbeAnswered(port, kLoaderHello, kLoaderHello)) {  // the loader echoes B0
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
  if (!WriteStreamHeader(port, *image)) {
    return 3;
  }
  if (startFn != nullptr) {
    startFn(startUser);
  }
  if (const uint32_t acks = AwaitHeaderAcks(port, image->eraseWait); acks != 0) {
    return acks;
  }
  StreamProgress progress(blockCount, image->size, progressFn, progressUser);
  if (const uint32_t blocks = SendBlocks(port, *image, progress); blocks != 0) {
    return blocks;
  }
  if (const uint32_t trailer = ReadTrailer(port); trailer != 0) {
    return trailer;
  }
  progress.Complete();
  return 0;
}

uint32_t LoaderLink::ReadFlashCrc(SerialPort& port, uint32_t& crc) const {
  if (!WriteByte(port, kCmdFlashCrc)) {
    return 1;
  }
  // The loader may acknowledge at once and read the whole image's range of flash before it
  // sends the CRC: both waits are the patient ones.
  uint8_t reply = 0;
  if (!ReadWithin3Minutes(port, reply)) {
    return 2;
  }
  if (reply == kReplyNoParameters) {
    return 3;
  }
  if (reply != kAck) {
    return 4;
  }
  std::array<uint8_t, 4> value{};
  if (!ReadWithin3Minutes(port, value.data(), 4)) {
    return 5;
  }
  crc = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 | value[3];
  return 0;
}

uint32_t LoaderLink::Finish(SerialPort& port) const {
  return WriteByte(port, kCmdFinish) ? 0 : 1;
}

}  // namespace tarvok
