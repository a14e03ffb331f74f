// A simulated TR7340 on the master side of a pseudo-terminal: the host opens the slave side
// as it would a serial port. The chip answers on a thread of its own with blocking reads,
// so a handshake byte is answered as soon as it arrives.
//
// Options make the wire behave like a real one: throttled to the baud rate in each
// direction, garbled while the host's rate differs from the chip's, and corrupting or losing
// bytes at random.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/Chip.h"

namespace tarvok::sim {

struct WireOptions {
  bool throttle = false;     // each direction at the current rate, 10 bits a byte
  bool chatter = true;       // a running chip sends NMEA sentences until it is sent back to ROM
  double corruptToChip = 0;  // probability that a byte arrives with one bit flipped
  double corruptToHost = 0;
  double loseToChip = 0;  // probability that a byte is lost
  double loseToHost = 0;
  uint32_t seed = 1;
  uint32_t hangUpAfterBlocks = 0;  // the line goes dead after this many accepted blocks
  uint32_t silenceMs = 50;         // a block that stops arriving is rejected after this
  bool trace = false;              // print every byte crossing the wire on stderr
};

struct PtyChipOptions {
  ChipOptions chip;
  WireOptions wire;
};

class PtyChip {
 public:
  // Null with `error` set when no pseudo-terminal could be made.
  static std::unique_ptr<PtyChip> Start(const PtyChipOptions& options, std::string* error);
  ~PtyChip();
  PtyChip(const PtyChip&) = delete;
  PtyChip& operator=(const PtyChip&) = delete;

  // The path the host opens, such as /dev/pts/3.
  const std::string& Path() const { return slavePath_; }
  // Waits until a burn has ended (finish received, or the stream ended and the line went
  // quiet, or the chip stopped answering on a fault); false on time-out.
  bool WaitForBurnEnd(int timeoutMs);
  bool BurnEnded() const { return ended_; }
  std::vector<uint8_t> FlashContents() const;
  bool WriteFlashFile(const std::string& path) const;
  LoaderStats Stats() const;
  void Stop();

 private:
  PtyChip(const PtyChipOptions& options, int master, int slave, std::string slavePath);
  void Run();
  // Bytes from one read: those written before the host's last rate change at the earlier
  // rate, the rest at `rate`.
  void DeliverAtTheirRates(const uint8_t* bytes, std::size_t count, uint32_t rate);
  void Deliver(const uint8_t* bytes, std::size_t count, uint32_t hostRate);
  void Send(std::vector<uint8_t>& bytes);
  void Chatter();
  void PaceBytes(std::size_t count, uint32_t rate, int64_t handedAtUs, int64_t& lineFreeAtUs);
  void CheckEnd();
  void HangUp();
  uint32_t HostRate() const;

  PtyChipOptions options_;
  int master_;
  int slave_;  // kept open so the master survives the host closing the port
  std::string slavePath_;
  mutable std::mutex mutex_;
  Chip chip_;
  std::mt19937 random_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::condition_variable endedChanged_;
  std::size_t sentAtEarlierRate_ = 0;  // bytes still waiting that predate a rate change
  uint32_t earlierRate_ = 0;
  uint32_t knownRate_;      // the host's rate as of the last data or rate change seen
  int64_t rxFreeAtUs_ = 0;  // when the host-to-chip line has carried what it was given
  int64_t txFreeAtUs_ = 0;
  int64_t lastActivityUs_ = 0;
  int64_t trailerSeenUs_ = 0;
  int64_t nextChatterUs_ = 0;
  uint32_t chatterCount_ = 0;
};

}  // namespace tarvok::sim
