// What runs in the chip's RAM once the boot ROM has started it, as the wire sees it: the C++
// model of our loader (Loader) or the downloaded bytes on an emulated CPU (CpuLoader).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok::sim {

// How far a burn got, as the loader tells it.
struct LoaderStats {
  uint32_t probes = 0;
  uint32_t echoTestBytes = 0;
  uint32_t blocksAccepted = 0;
  uint32_t rejections = 0;
  uint32_t hardResyncs = 0;  // 0xB6 received from the host
  bool erased = false;
  bool finished = false;  // 0xE5 received
  bool trailerSent = false;
  bool streamOk = false;        // the trailer said success
  bool failureReplied = false;  // a block was answered with a failure code; the stream ended
  std::string cpuFault;         // why the emulated CPU stopped, when it stopped on a fault
};

// What the loader took from the host, as it understood it: the flash parameters, the stream
// header and every byte of the image it accepted, in order.
struct AcceptedStream {
  bool parametersSeen = false;
  uint8_t eraseFlag = 0;
  uint32_t startAddress = 0;
  uint32_t endAddress = 0;
  bool headerSeen = false;
  uint32_t blockSize = 0;
  std::vector<uint8_t> headerData;  // the header's data bytes, as many as the image has (0-4)
  std::vector<uint8_t> image;       // header data bytes and accepted blocks
  std::vector<uint16_t> blockSums;  // the sum that came with each accepted block
  bool complete = false;            // every byte the parameters announced was accepted
};

class RamProgram {
 public:
  virtual ~RamProgram() = default;

  // The program's first words, if it says any at once (the model's hello).
  virtual void Start(std::vector<uint8_t>& out) = 0;
  virtual void Receive(uint8_t byte, std::vector<uint8_t>& out) = 0;
  // The line has been quiet for a while.
  virtual void OnSilence(std::vector<uint8_t>& out) = 0;
  // The rate the chip's UART runs at; a switch takes effect after its acknowledgement.
  virtual uint32_t Rate() const = 0;
  virtual void SettleRate() = 0;
  virtual LoaderStats Stats() const = 0;
  // What the program took from the host, where it can tell (the C++ model can; firmware on
  // the emulated CPU keeps its own counsel).
  virtual const AcceptedStream* Accepted() const { return nullptr; }
};

}  // namespace tarvok::sim
