// What a well-behaved chip answers, byte by byte: the boot ROM (complement handshake, then
// its commands with their echoes), the RAM loader (hello, switch, parameters, blocks with
// their sums, re-synchronisation, finish), and the two in turn as a whole chip. The fuzz
// script starts from these answers and bends them; the models keep following the host.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok::fuzz {

using Bytes = std::vector<uint8_t>;

class ChipModel {
 public:
  virtual ~ChipModel() = default;
  // What the chip says before the host has written anything.
  virtual void Start(Bytes& out) { (void)out; }
  virtual void Receive(uint8_t byte, Bytes& out) = 0;
};

class RomModel : public ChipModel {
 public:
  // `commandsOnly`: the handshake has already happened.
  explicit RomModel(bool commandsOnly = false)
      : mode_(commandsOnly ? Mode::kCommand : Mode::kHandshake) {}
  void Receive(uint8_t byte, Bytes& out) override;
  // 0xA8 and its address arrived: the ROM has handed the chip to the loader.
  bool Executed() const { return mode_ == Mode::kExecuted; }

 private:
  enum class Mode { kHandshake, kCommand, kAddress, kCount, kData, kExecuted };
  void ParametersDone(Bytes& out);

  Mode mode_;
  uint8_t command_ = 0;
  Bytes collected_;
  uint32_t count_ = 0;      // halfwords or words still to come in kData
  uint64_t dataBytes_ = 0;  // bytes still to come in kData
  uint16_t xorOfWritten_ = 0;
  uint8_t highByte_ = 0;
  bool haveHigh_ = false;
};

class LoaderModel : public ChipModel {
 public:
  // `eraseWait` is the loader's answer to the flash parameters; `imageSize` is used until
  // the parameters say otherwise.
  LoaderModel(uint8_t eraseWait, uint32_t imageSize) : eraseWait_(eraseWait), size_(imageSize) {}
  void Start(Bytes& out) override;
  void Receive(uint8_t byte, Bytes& out) override;
  // The image bytes the loader took: the stream header's four, then every accepted block.
  const Bytes& Taken() const { return taken_; }
  bool Finished() const { return state_ == State::kFinished; }

 private:
  enum class State { kCommand, kArguments, kProbe, kEchoTest, kBlock, kResync, kFinished };
  void ArgumentsDone(Bytes& out);
  void BlockDone(Bytes& out);

  uint8_t eraseWait_;
  uint32_t size_;
  State state_ = State::kCommand;
  uint8_t command_ = 0;
  Bytes collected_;
  uint8_t echoRepeats_ = 0;
  uint32_t echoLeft_ = 0;
  uint32_t blockSize_ = 1024;
  uint64_t remaining_ = 0;  // image bytes still to come in blocks
  Bytes taken_;
};

// The boot ROM until it has started the loader, then the loader.
class WholeChipModel : public ChipModel {
 public:
  WholeChipModel(uint8_t eraseWait, uint32_t imageSize) : loader_(eraseWait, imageSize) {}
  void Receive(uint8_t byte, Bytes& out) override;
  const LoaderModel& Loader() const { return loader_; }

 private:
  RomModel rom_;
  LoaderModel loader_;
};

}  // namespace tarvok::fuzz
