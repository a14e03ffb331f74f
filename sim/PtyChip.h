// A simulated TR7340 on the master side of a pseudo-terminal: the host opens the slave side
// as it would a serial port. The chip answers on a thread of its own with blocking reads,
// so a handshake byte is answered as soon as it arrives.
//
// PtyChip wires the parts: the pseudo-terminal (Pty), the line between it and the chip with
// its pacing, adapter timer and faults (Line, WireOptions), the running application's
// sentences (NmeaChatter), the report at the end (ChipReport), and, for a board on a
// production fixture, the board's life after its burn (BoardLife).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/BoardLife.h"
#include "sim/Chip.h"
#include "sim/ChipReport.h"
#include "sim/Line.h"
#include "sim/NmeaChatter.h"
#include "sim/Pty.h"
#include "sim/WireOptions.h"

namespace tarvok::sim {

struct PtyChipOptions {
  ChipOptions chip;
  WireOptions wire;
  // A board on a production fixture: after its burn it runs its application, then leaves.
  // Without, the chip waits for burns for as long as it runs.
  std::optional<BoardPlan> board;
  bool hangUpOnLeaving = false;  // the board takes the pseudo-terminal with it
};

class PtyChip : private HostListener {
 public:
  // Null with `error` set when no pseudo-terminal could be made.
  static std::unique_ptr<PtyChip> Start(const PtyChipOptions& options, std::string* error);
  // On a pseudo-terminal made before, such as a fixture's line that outlives its boards.
  static std::unique_ptr<PtyChip> StartOn(std::unique_ptr<Pty> pty, const PtyChipOptions& options);
  ~PtyChip() override;
  PtyChip(const PtyChip&) = delete;
  PtyChip& operator=(const PtyChip&) = delete;

  // The path the host opens, such as /dev/pts/3.
  const std::string& Path() const { return pty_->Path(); }
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
  uint64_t BytesFromHost() const { return pty_->BytesFromHost(); }
  void Stop();
  // After Stop: the pseudo-terminal, for the next board (the chip has no line any more).
  std::unique_ptr<Pty> TakePty();

  // A board on a fixture: it has left, and what it went through.
  bool BoardGone() const;
  // The operator takes the board out, whatever it is doing.
  void TakeOutBoard();
  BoardRecord Board() const;

 private:
  PtyChip(const PtyChipOptions& options, std::unique_ptr<Pty> pty, int64_t startUs);
  void Run();
  void OnBytes(const uint8_t* bytes, std::size_t count, uint32_t hostRate) override;
  void OnPurge() override;
  bool ReceiveSlice(const uint8_t* bytes, std::size_t& next, std::size_t last, uint32_t hostRate,
                    bool& stall);
  void OnQuiet();
  void Send(std::vector<uint8_t>& bytes);
  void SendFromCpu(std::vector<uint8_t>& bytes);
  bool ChipListens() const;
  uint32_t UartRate() const;
  void FollowBoard();
  void ReleaseHeldBytes();
  void WriteToHost(const std::vector<uint8_t>& wire);
  void Chatter();
  void CheckEnd();
  void HangUp();
  int64_t NextWakeUs(int64_t nowUs) const;

  PtyChipOptions options_;
  std::unique_ptr<Pty> pty_;
  mutable std::mutex mutex_;  // guards all below but the thread and the two flags
  Chip chip_;
  Line line_;
  NmeaChatter chatter_;
  NmeaChatter appChatter_;  // a board's application, once its burn has ended
  std::optional<BoardLife> board_;
  LineRecord record_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::condition_variable endedChanged_;
};

}  // namespace tarvok::sim
