// A simulated TR7340 on the master side of a pseudo-terminal: the host opens the slave side
// as it would a serial port. The chip answers on a thread of its own with blocking reads,
// so a handshake byte is answered as soon as it arrives.
//
// Options make the wire behave like a real one: throttled to the baud rate in each
// direction, garbled while the host's rate differs from the chip's, delivered to the host in
// bursts as a USB adapter's latency timer does, and with faults at random in either direction
// (flipped, lost, doubled bytes, stalls, a hang-up), seeded so that a run can be repeated.
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

// Faults of one direction of the line, each a probability per byte.
struct LineFaults {
  double corrupt = 0;    // the byte arrives with one bit flipped
  double lose = 0;       // the byte never arrives
  double duplicate = 0;  // the byte arrives twice
  double stall = 0;      // the line stalls before the byte...
  uint32_t stallMs = 0;  // ...for this long
  double hangUp = 0;     // the line goes dead at the byte
};

struct WireOptions {
  bool throttle = false;  // each direction at the current rate, 10 bits a byte
  bool chatter = true;    // a running chip sends NMEA sentences until it is sent back to ROM
  // Bytes towards the host leave in bursts when this timer fires, as a USB serial adapter's
  // latency timer sends them; 0 sends each at once.
  uint32_t latencyMs = 0;
  LineFaults toChip;
  LineFaults toHost;
  uint32_t seed = 1;               // of every random fault
  uint32_t hangUpAfterBlocks = 0;  // the line goes dead after this many accepted blocks
  uint32_t silenceMs = 50;         // a block that stops arriving is rejected after this
  bool trace = false;              // print every byte crossing the wire on stderr
};

struct PtyChipOptions {
  ChipOptions chip;
  WireOptions wire;
};

// What the chip can tell about a burn once it is over.
struct ChipReport {
  bool finishArrived = false;  // the loader received 0xE5
  bool hungUp = false;         // the line went dead on a fault
  // Faults the line put on the host's bytes after the stream's trailer: a finish that never
  // arrived may have been lost to them.
  uint32_t faultsAfterTrailer = 0;
  uint32_t sentencesHeard = 0;
  // The running loader keeps a record of the stream it accepted (the emulated CPU does not).
  bool streamRecorded = false;
  bool streamComplete = false;  // the loader accepted every byte its parameters announced
  bool flashHoldsAcceptedImage = false;
  AcceptedStream accepted;
  LoaderStats loader;
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
  // Waits until a burn has ended: the loader received the finish command, or the line went
  // dead on a fault. False on time-out.
  bool WaitForBurnEnd(int timeoutMs);
  bool BurnEnded() const { return ended_; }
  std::vector<uint8_t> FlashContents() const;
  bool FlashHolds(const std::vector<uint8_t>& image) const;
  bool WriteFlashFile(const std::string& path) const;
  LoaderStats Stats() const;
  ChipReport Report() const;
  // How long the host has sent nothing, and how much it has sent: a watchdog's view of it.
  int64_t HostQuietMs() const;
  uint64_t BytesFromHost() const { return bytesFromHost_; }
  void Stop();

 private:
  PtyChip(const PtyChipOptions& options, int master, int slave, std::string slavePath);
  void Run();
  // Bytes from one read: those written before the host's last rate change at the earlier
  // rate, the rest at `rate`.
  void DeliverAtTheirRates(const uint8_t* bytes, std::size_t count, uint32_t rate);
  void Deliver(const uint8_t* bytes, std::size_t count, uint32_t hostRate);
  void Send(std::vector<uint8_t>& bytes);
  void ReleaseHeldBytes();
  void WriteToHost(const std::vector<uint8_t>& wire);
  void Chatter();
  void PaceBytes(std::size_t count, uint32_t rate, int64_t handedAtUs, int64_t& lineFreeAtUs);
  void CheckEnd();
  void HangUp();
  int64_t NextWakeUs(int64_t nowUs) const;
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
  bool hungUp_ = false;
  uint32_t faultsAfterTrailer_ = 0;
  std::vector<uint8_t> heldForHost_;  // waiting for the latency timer or a stall to pass
  int64_t releaseAtUs_ = 0;
  int64_t startUs_ = 0;
  std::condition_variable endedChanged_;
  // Which rate the host's bytes were sent at. In packet mode with EXTPROC every change of the
  // host's line settings reaches the chip as a control packet, ahead of any byte written
  // after it: the bytes of one read were sent at the rate the chip reads just before it,
  // and the bytes still waiting when a control packet arrives were sent at the rate before
  // the change.
  std::size_t sentAtEarlierRate_ = 0;  // bytes still waiting that predate a rate change
  uint32_t earlierRate_ = 0;
  uint32_t knownRate_;      // the host's rate as of the last data or rate change seen
  int64_t rxFreeAtUs_ = 0;  // when the host-to-chip line has carried what it was given
  int64_t txFreeAtUs_ = 0;
  std::atomic<int64_t> lastActivityUs_{0};
  std::atomic<uint64_t> bytesFromHost_{0};
  int64_t nextChatterUs_ = 0;
  uint32_t chatterCount_ = 0;
  std::string chatterLeft_;  // the rest of the sentence being sent
  int64_t chatterSentUs_ = 0;
};

}  // namespace tarvok::sim
