// The RAM loader as the host sees it over the wire, once the boot ROM (or the boot stage) has
// started it: hello, then the commands 0xE1 (baud switch), 0xE2 (flash parameters), 0xE3
// (image stream), 0xE4 (the flash's CRC-32) and 0xE5 (finish). A pure byte-in, bytes-out state
// machine over a simulated NOR flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/Flash.h"
#include "sim/RamProgram.h"

namespace tarvok::sim {

inline constexpr uint32_t kNoBlock = UINT32_MAX;

// Faults on demand.
struct LoaderFaults {
  uint8_t helloMajor = 1;
  uint8_t helloMinor = 0;
  bool busyInsteadOfHello = false;     // sends 0x1C instead of its hello
  uint8_t eraseWait = 0;               // the byte that answers the flash parameters
  bool skipErase = false;              // acknowledges the erase but leaves the flash as it is
  uint32_t firstEchoedProbe = 1;       // probes before this one (counted from 1) go unanswered
  uint32_t rejectBlock = kNoBlock;     // this block (counted from 0) is rejected...
  uint32_t rejectTimes = 0;            // ...this many times in a row
  uint32_t replyCodeBlock = kNoBlock;  // this block is answered with `replyCode` (5, 6, 7)
  uint8_t replyCode = 0;
  bool finalFailure = false;  // ends the stream with 0xB6 even when all went well
  bool wrongCrc = false;      // answers 0xE4 with the lowest bit of the CRC-32 flipped
  // This block (counted from 0) arrives with two neighbouring bytes moved by +1 and -1, so
  // that its sum still matches; the loader accepts and programs the bent bytes.
  uint32_t bendBlock = kNoBlock;
};

class Loader : public RamProgram {
 public:
  Loader(Flash& flash, uint32_t rate, const LoaderFaults& faults);

  // The loader's first words: its hello (or 0x1C).
  void Start(std::vector<uint8_t>& out) override;
  void Receive(uint8_t byte, std::vector<uint8_t>& out) override;
  // A block that stopped arriving is rejected.
  void OnSilence(std::vector<uint8_t>& out) override;

  uint32_t Rate() const override { return rate_; }
  void SettleRate() override { rate_ = nextRate_; }
  LoaderStats Stats() const override { return stats_; }
  const AcceptedStream* Accepted() const override { return &accepted_; }

 private:
  enum class State {
    kCommand,
    kSwitchArguments,
    kProbing,
    kEchoTest,
    kParameterArguments,
    kHeaderArguments,
    kBlock,
    kAwaitResume,
    kStopped
  };

  void Collect(State next, uint32_t count);
  void ArgumentsComplete(std::vector<uint8_t>& out);
  void AnswerFlashCrc(std::vector<uint8_t>& out) const;
  void BlockComplete(std::vector<uint8_t>& out);
  void Reject(std::vector<uint8_t>& out);
  void EndOfStreamIfDone(std::vector<uint8_t>& out);
  uint32_t CurrentBlockLength() const;

  Flash& flash_;
  LoaderFaults faults_;
  LoaderStats stats_;
  AcceptedStream accepted_;
  uint32_t rate_;
  uint32_t nextRate_;
  State state_ = State::kCommand;
  std::vector<uint8_t> collected_;
  uint32_t wanted_ = 0;
  uint8_t echoRepeats_ = 0;
  uint32_t echoLeft_ = 0;
  uint32_t imageStart_ = 0;
  uint64_t imageSize_ = 0;
  uint32_t blockSize_ = 0;
  uint64_t received_ = 0;  // image bytes accepted, header included
  uint32_t blockIndex_ = 0;
  uint32_t rejectedThisBlock_ = 0;
  bool verifyFailed_ = false;
};

// Rate of a loader baud code 1-14, 0 for any other code.
uint32_t LoaderBaudRate(uint8_t code);

// The CRC-32 (zlib's) of the flash cells [first, last] as they read now; cells beyond the
// flash read as erased.
uint32_t FlashCrc(const Flash& flash, uint32_t first, uint32_t last);

// Moves two neighbouring bytes of `bytes` by +1 and -1 (or -1 and +1) where neither wraps, so
// that their 16-bit sum stays the same; false when no such pair exists.
bool BendKeepingSum(std::vector<uint8_t>& bytes, std::size_t count);

}  // namespace tarvok::sim
