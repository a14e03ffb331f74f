#include "sim/PtyChip.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "serial/PreciseClock.h"

namespace tarvok::sim {
namespace {

// How often the chip looks at the line when nothing arrives; each look also notes the
// host's rate.
constexpr int64_t kIdleLookUs = 2'000;
// A board's application reports its fix once a second.
constexpr int64_t kAppSentencePeriodUs = 1'000'000;

void Trace(const char* direction, uint32_t rate, const uint8_t* bytes, std::size_t count) {
  std::fprintf(stderr, "%s @%u:", direction, rate);
  for (std::size_t k = 0; k < count && k < 24; ++k) {
    std::fprintf(stderr, " %02X", bytes[k]);
  }
  std::fprintf(stderr, count > 24 ? " ... (%zu bytes)\n" : "\n", count);
}

}  // namespace

std::unique_ptr<PtyChip> PtyChip::Start(const PtyChipOptions& options, std::string* error) {
  std::unique_ptr<Pty> pty = Pty::Open(options.chip.romRate, error);
  if (!pty) {
    return nullptr;
  }
  return StartOn(std::move(pty), options);
}

std::unique_ptr<PtyChip> PtyChip::StartOn(std::unique_ptr<Pty> pty, const PtyChipOptions& options) {
  std::unique_ptr<PtyChip> chip(new PtyChip(options, std::move(pty), MonotonicUs()));
  chip->thread_ = std::thread([raw = chip.get()] { raw->Run(); });
  return chip;
}

PtyChip::PtyChip(const PtyChipOptions& options, std::unique_ptr<Pty> pty, int64_t startUs)
    : options_(options),
      pty_(std::move(pty)),
      chip_(options.chip),
      line_(options.wire, startUs),
      chatter_(startUs),
      appChatter_(startUs, kAppSentencePeriodUs) {
  if (options.board) {
    board_.emplace(*options.board, startUs);
  }
  chip_.ConnectCpu({&mutex_, [this](std::vector<uint8_t>& bytes) { SendFromCpu(bytes); }});
}

PtyChip::~PtyChip() {
  Stop();
}

void PtyChip::Stop() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
  chip_.HaltCpu();
}

std::unique_ptr<Pty> PtyChip::TakePty() {
  Stop();
  return std::move(pty_);
}

// When the chip must look at the line again though nothing arrives.
int64_t PtyChip::NextWakeUs(int64_t nowUs) const {
  int64_t wake = nowUs + kIdleLookUs;
  if (chatter_.Sending() || appChatter_.Sending()) {
    wake = std::min(wake, nowUs + NmeaChatter::kPieceUs);
  }
  if (line_.Holding()) {
    wake = std::min(wake, line_.ReleaseAtUs());
  }
  return wake;
}

void PtyChip::Run() {
  while (!stop_ && pty_->IsOpen()) {
    int64_t waitUs = 0;
    {
      std::lock_guard lock(mutex_);
      waitUs = std::max<int64_t>(0, NextWakeUs(MonotonicUs()) - MonotonicUs());
    }
    if (!pty_->Receive(waitUs, *this)) {
      OnQuiet();
    }
    {
      std::lock_guard lock(mutex_);
      ReleaseHeldBytes();
    }
    FollowBoard();
    CheckEnd();
  }
}

// The chip hears the line and answers: always, but for a board whose burn has ended.
bool PtyChip::ChipListens() const {
  return !board_ || board_->ChipListens();
}

// A board's application talks at the boot ROM's rate, whatever rate its loader ran at.
uint32_t PtyChip::UartRate() const {
  return ChipListens() ? chip_.Rate() : options_.chip.romRate;
}

// A board ends its burn, runs its application and leaves as its time comes; leaving, it may
// take the pseudo-terminal with it.
void PtyChip::FollowBoard() {
  std::lock_guard lock(mutex_);
  if (!board_ || board_->CurrentPhase() == BoardLife::Phase::kGone) {
    return;
  }
  const int64_t now = MonotonicUs();
  board_->Follow(chip_, now);
  if (board_->CurrentPhase() == BoardLife::Phase::kGone) {
    chatter_.Stop();
    appChatter_.Stop();
    if (options_.hangUpOnLeaving) {
      pty_->HangUp();
    }
  }
}

// Nothing arrived: a running application goes on with its sentences, and a loader in the
// middle of a block hears that the rest stopped coming.
void PtyChip::OnQuiet() {
  Chatter();
  if (MonotonicUs() - pty_->LastHeardUs() > int64_t{options_.wire.silenceMs} * 1000) {
    std::vector<uint8_t> out;
    std::lock_guard lock(mutex_);
    if (ChipListens()) {
      chip_.OnSilence(out);
      Send(out);
    }
  }
}

// The host has opened and purged the line: a loader that already runs says hello now, when
// someone listens.
void PtyChip::OnPurge() {
  std::vector<uint8_t> hello;
  std::lock_guard lock(mutex_);
  if (!ChipListens()) {
    return;
  }
  chip_.PowerOn(hello);
  Send(hello);
}

// Bytes from the host, as the chip's UART receives them.
void PtyChip::OnBytes(const uint8_t* bytes, std::size_t count, uint32_t hostRate) {
  const int64_t handedAt = MonotonicUs();
  if (options_.wire.trace) {
    Trace("host>chip", hostRate, bytes, count);
  }
  // Process in slices of about a millisecond of line time, so that a throttled line hands
  // the chip its bytes at the pace they would arrive.
  const std::size_t slice = line_.SliceBytes(hostRate, count);
  std::size_t next = 0;
  while (next < count) {
    const std::size_t last = std::min(count, next + slice);
    line_.PaceToChip(last - next, hostRate, handedAt);
    bool stall = false;
    {
      std::lock_guard lock(mutex_);
      if (!ReceiveSlice(bytes, next, last, hostRate, stall)) {
        return;
      }
    }
    FollowBoard();
    if (stall) {
      line_.StallToChip();
    }
  }
}

// The chip hears bytes `next` to `last` as the line carries them, up to a stall (`next` then
// stands after the stalled byte); false when the line went dead. The caller holds the lock.
bool PtyChip::ReceiveSlice(const uint8_t* bytes, std::size_t& next, std::size_t last,
                           uint32_t hostRate, bool& stall) {
  std::vector<uint8_t> out;
  for (; next < last && !stall; ++next) {
    const Arrival arrival = line_.CarryToChip(bytes[next], hostRate == UartRate());
    if (arrival.hangsUp) {
      Send(out);
      HangUp();
      return false;
    }
    stall = arrival.stalls;
    if (arrival.faulted) {
      record_.NoteFault(chip_);
    }
    for (int copy = 0; copy < arrival.copies; ++copy) {
      if (ChipListens()) {
        chip_.Receive(arrival.byte, out);
        if (board_) {
          board_->NoteHostByte(MonotonicUs());
        }
      } else {
        board_->HearWhileRunning(arrival.byte);
      }
    }
  }
  Send(out);
  chip_.SettleRate();
  const RamProgram* loader = chip_.RunningLoader();
  if (options_.wire.hangUpAfterBlocks != 0 && loader != nullptr &&
      loader->Stats().blocksAccepted >= options_.wire.hangUpAfterBlocks) {
    HangUp();
    return false;
  }
  return true;
}

// Bytes from the chip to the host; the caller holds the lock.
void PtyChip::Send(std::vector<uint8_t>& bytes) {
  if (bytes.empty() || !pty_->IsOpen()) {
    bytes.clear();
    return;
  }
  const bool alive = line_.CarryToHost(bytes, pty_->HostRate() == UartRate(), MonotonicUs());
  bytes.clear();
  ReleaseHeldBytes();
  if (!alive) {
    HangUp();
  }
}

// What the chip's CPU sends, which nobody hears once a board's burn has ended; the caller
// holds the lock.
void PtyChip::SendFromCpu(std::vector<uint8_t>& bytes) {
  if (!ChipListens()) {
    bytes.clear();
    return;
  }
  Send(bytes);
}

// Hands the host what the line holds for it once its time has come; the caller holds the lock.
void PtyChip::ReleaseHeldBytes() {
  const std::vector<uint8_t> wire = line_.TakeDue(MonotonicUs());
  if (!wire.empty()) {
    WriteToHost(wire);
  }
}

// The caller holds the lock.
void PtyChip::WriteToHost(const std::vector<uint8_t>& wire) {
  const int64_t handedAt = MonotonicUs();
  const uint32_t chipRate = UartRate();
  if (options_.wire.trace) {
    Trace(pty_->HostRate() != chipRate ? "chip>host (garbled)" : "chip>host", chipRate, wire.data(),
          wire.size());
  }
  const std::size_t slice = line_.SliceBytes(chipRate, wire.size());
  for (std::size_t first = 0; first < wire.size() && pty_->IsOpen(); first += slice) {
    const std::size_t length = std::min(wire.size() - first, slice);
    if (!pty_->Write(wire.data() + first, length)) {
      return;
    }
    line_.PaceToHost(length, chipRate, handedAt);
  }
}

// A running application sends its sentences at the line's pace: the chip's before the host
// sends it to its boot ROM, and a board's once its burn has ended (if it went well).
void PtyChip::Chatter() {
  std::lock_guard lock(mutex_);
  if (!ChipListens()) {
    chatter_.Stop();
    if (!board_->Speaks() || !pty_->IsOpen()) {
      appChatter_.Stop();
      return;
    }
    std::vector<uint8_t> piece = appChatter_.NextPiece(MonotonicUs(), options_.chip.romRate);
    Send(piece);
    return;
  }
  if (!options_.wire.chatter || options_.chip.silent ||
      chip_.CurrentMode() != Chip::Mode::kApplication) {
    chatter_.Stop();
    return;
  }
  std::vector<uint8_t> piece = chatter_.NextPiece(MonotonicUs(), chip_.Rate());
  Send(piece);
}

// A burn ends only with the finish command: a loader that has sent its trailer but never
// hears 0xE5 is still waiting for it.
void PtyChip::CheckEnd() {
  std::lock_guard lock(mutex_);
  if (ended_ || !chip_.BurnEnded()) {
    return;
  }
  ended_ = true;
  endedChanged_.notify_all();
}

// The caller holds the lock.
void PtyChip::HangUp() {
  if (!pty_->IsOpen()) {
    return;
  }
  record_.NoteHangUp(chip_);
  pty_->HangUp();
  if (board_) {
    board_->LineDied(MonotonicUs());
  }
  ended_ = true;
  endedChanged_.notify_all();
}

bool PtyChip::WaitForBurnEnd(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return endedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return ended_.load(); });
}

std::vector<uint8_t> PtyChip::FlashContents() const {
  std::lock_guard lock(mutex_);
  return chip_.FlashMemory().Cells();
}

bool PtyChip::FlashHolds(const std::vector<uint8_t>& image) const {
  std::lock_guard lock(mutex_);
  return chip_.FlashHolds(image);
}

bool PtyChip::WriteFlashFile(const std::string& path) const {
  const std::vector<uint8_t> cells = FlashContents();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(cells.data()),
            static_cast<std::streamsize>(cells.size()));
  return static_cast<bool>(out);
}

LoaderStats PtyChip::Stats() const {
  std::lock_guard lock(mutex_);
  return chip_.RunningLoader() != nullptr ? chip_.RunningLoader()->Stats() : LoaderStats{};
}

int64_t PtyChip::HostQuietMs() const {
  return (MonotonicUs() - pty_->LastHeardUs()) / 1000;
}

void PtyChip::TakeOutBoard() {
  std::lock_guard lock(mutex_);
  if (board_) {
    board_->TakenOut(MonotonicUs());
  }
}

bool PtyChip::BoardGone() const {
  std::lock_guard lock(mutex_);
  return board_ && board_->CurrentPhase() == BoardLife::Phase::kGone;
}

BoardRecord PtyChip::Board() const {
  std::lock_guard lock(mutex_);
  return board_ ? board_->Record(chip_, MonotonicUs()) : BoardRecord{};
}

ChipReport PtyChip::Report() const {
  std::lock_guard lock(mutex_);
  return ReportOf(chip_, record_);
}

}  // namespace tarvok::sim
