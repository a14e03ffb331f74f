#include "sim/PtyChip.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "serial/PosixBaud.h"
#include "serial/PreciseClock.h"

namespace tarvok::sim {
namespace {

// A receiver's fix, as a running chip reports it once a second.
std::string NmeaSentence(uint32_t counter) {
  char body[96];
  std::snprintf(body, sizeof(body), "GPGGA,%06u.00,2446.1234,N,12100.5678,E,1,08,0.9,12.3,M,,M,,",
                counter % 240000);
  uint8_t sum = 0;
  for (const char* c = body; *c != '\0'; ++c) {
    sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(*c));
  }
  char sentence[128];
  std::snprintf(sentence, sizeof(sentence), "$%s*%02X\r\n", body, sum);
  return sentence;
}

void Trace(const char* direction, uint32_t rate, const uint8_t* bytes, std::size_t count) {
  std::fprintf(stderr, "%s @%u:", direction, rate);
  for (std::size_t k = 0; k < count && k < 24; ++k) {
    std::fprintf(stderr, " %02X", bytes[k]);
  }
  std::fprintf(stderr, count > 24 ? " ... (%zu bytes)\n" : "\n", count);
}

constexpr int64_t kChatterPeriodUs = 200'000;
constexpr int64_t kChatterPieceUs = 2'000;
// How often the chip looks at the line when nothing arrives; each look also notes the
// host's rate.
constexpr int64_t kIdleLookUs = 2'000;

// One direction's faults for one byte, drawn in a fixed order so that a seed repeats a run.
struct ByteFate {
  bool lost = false;
  bool doubled = false;
  bool stalls = false;
  bool hangsUp = false;
  uint8_t flip = 0;  // XOR mask, 0 for none
};

ByteFate DrawFate(const LineFaults& faults, std::mt19937& random) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::uniform_int_distribution<int> bit(0, 7);
  ByteFate fate;
  // Each draw only where its fault is enabled: a clean line uses no randomness.
  fate.hangsUp = faults.hangUp > 0 && chance(random) < faults.hangUp;
  fate.stalls = faults.stall > 0 && chance(random) < faults.stall;
  fate.lost = faults.lose > 0 && chance(random) < faults.lose;
  fate.doubled = faults.duplicate > 0 && chance(random) < faults.duplicate;
  if (faults.corrupt > 0 && chance(random) < faults.corrupt) {
    fate.flip = static_cast<uint8_t>(1 << bit(random));
  }
  return fate;
}

}  // namespace

std::unique_ptr<PtyChip> PtyChip::Start(const PtyChipOptions& options, std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (error != nullptr) {
      *error = "cannot create a pseudo-terminal";
    }
    if (master >= 0) {
      close(master);
    }
    return nullptr;
  }
  char name[128] = {};
  ptsname_r(master, name, sizeof(name));
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    if (error != nullptr) {
      *error = std::string("cannot open ") + name;
    }
    close(master);
    return nullptr;
  }
  // Raw on both ends: no echo, no line editing, no character translation.
  termios settings{};
  tcgetattr(slave, &settings);
  cfmakeraw(&settings);
  // With packet mode below, EXTPROC makes every change of the host's line settings reach
  // the chip as a control packet, so bytes written before a rate change keep their rate.
  settings.c_lflag |= EXTPROC;
  tcsetattr(slave, TCSANOW, &settings);
  SetTtyBaudRate(slave, options.chip.romRate);
  // Packet mode tells the chip when the host purges its buffers.
  int packetMode = 1;
  ioctl(master, TIOCPKT, &packetMode);
  std::unique_ptr<PtyChip> chip(new PtyChip(options, master, slave, name));
  chip->thread_ = std::thread([raw = chip.get()] { raw->Run(); });
  return chip;
}

PtyChip::PtyChip(const PtyChipOptions& options, int master, int slave, std::string slavePath)
    : options_(options),
      master_(master),
      slave_(slave),
      slavePath_(std::move(slavePath)),
      chip_(options.chip),
      random_(options.wire.seed),
      knownRate_(options.chip.romRate),
      lastActivityUs_(MonotonicUs()) {
  chip_.ConnectCpu({&mutex_, [this](std::vector<uint8_t>& bytes) { Send(bytes); }});
}

PtyChip::~PtyChip() {
  Stop();
  if (master_ >= 0) {
    close(master_);
  }
  if (slave_ >= 0) {
    close(slave_);
  }
}

void PtyChip::Stop() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
  chip_.HaltCpu();
}

uint32_t PtyChip::HostRate() const {
  uint32_t rate = 0;
  return master_ >= 0 && GetTtyBaudRate(master_, rate) ? rate : 0;
}

// Holds the caller until `count` bytes handed to the line at `handedAtUs` have crossed it.
// Bytes handed over together travel back to back, so sleeping late for one slice does not
// slow the next.
void PtyChip::PaceBytes(std::size_t count, uint32_t rate, int64_t handedAtUs,
                        int64_t& lineFreeAtUs) {
  if (!options_.wire.throttle || rate == 0) {
    return;
  }
  const int64_t start = std::max(handedAtUs, lineFreeAtUs);
  lineFreeAtUs = start + static_cast<int64_t>(count) * 10'000'000 / rate;
  WaitUntilUs(lineFreeAtUs);
}

// When the chip must look at the line again though nothing arrives.
int64_t PtyChip::NextWakeUs(int64_t nowUs) const {
  int64_t wake = nowUs + kIdleLookUs;
  if (!chatterLeft_.empty()) {
    wake = std::min(wake, nowUs + kChatterPieceUs);
  }
  if (!heldForHost_.empty()) {
    wake = std::min(wake, releaseAtUs_);
  }
  return wake;
}

void PtyChip::Run() {
  std::vector<uint8_t> buffer(4096);
  startUs_ = lastActivityUs_;
  nextChatterUs_ = startUs_;
  while (!stop_ && master_ >= 0) {
    int64_t waitUs = 0;
    {
      std::lock_guard lock(mutex_);
      waitUs = std::max<int64_t>(0, NextWakeUs(MonotonicUs()) - MonotonicUs());
    }
    pollfd entry{master_, POLLIN, 0};
    const timespec timeout{0, static_cast<long>(waitUs * 1000)};
    const int ready = ppoll(&entry, 1, &timeout, nullptr);
    if (ready > 0 && (entry.revents & POLLIN) != 0) {
      // A rate change after this point shows as a control packet before any data written
      // after it, so the data of this read was sent at this rate.
      const uint32_t rate = HostRate();
      const ssize_t n = read(master_, buffer.data(), buffer.size());
      if (n > 1 && buffer[0] == TIOCPKT_DATA) {
        bytesFromHost_ += static_cast<uint64_t>(n - 1);
        DeliverAtTheirRates(buffer.data() + 1, static_cast<std::size_t>(n - 1), rate);
        lastActivityUs_ = MonotonicUs();
        knownRate_ = rate;
      } else if (n > 0 && (buffer[0] & TIOCPKT_IOCTL) != 0) {
        // What is waiting now was written before the change, at the rate before it.
        int waiting = 0;
        ioctl(master_, FIONREAD, &waiting);
        if (sentAtEarlierRate_ == 0) {
          earlierRate_ = knownRate_;
        }
        sentAtEarlierRate_ = static_cast<std::size_t>(std::max(waiting, 0));
        knownRate_ = HostRate();
      }
      if (n > 0 && buffer[0] != TIOCPKT_DATA &&
          (buffer[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0) {
        // The host has opened and purged the line: a loader that already runs says hello
        // now, when someone listens.
        std::vector<uint8_t> hello;
        std::lock_guard lock(mutex_);
        chip_.PowerOn(hello);
        Send(hello);
      }
    } else {
      Chatter();
      if (MonotonicUs() - lastActivityUs_ > int64_t{options_.wire.silenceMs} * 1000) {
        std::vector<uint8_t> out;
        std::lock_guard lock(mutex_);
        chip_.OnSilence(out);
        Send(out);
      }
    }
    {
      std::lock_guard lock(mutex_);
      ReleaseHeldBytes();
    }
    CheckEnd();
  }
}

void PtyChip::DeliverAtTheirRates(const uint8_t* bytes, std::size_t count, uint32_t rate) {
  const std::size_t early = std::min(count, sentAtEarlierRate_);
  sentAtEarlierRate_ -= early;
  if (early > 0) {
    Deliver(bytes, early, earlierRate_);
  }
  if (count > early) {
    Deliver(bytes + early, count - early, rate);
  }
}

// Bytes from the host, as the chip's UART receives them.
void PtyChip::Deliver(const uint8_t* bytes, std::size_t count, uint32_t hostRate) {
  const int64_t handedAt = MonotonicUs();
  if (options_.wire.trace) {
    Trace("host>chip", hostRate, bytes, count);
  }
  // Process in slices of about a millisecond of line time, so that a throttled line hands
  // the chip its bytes at the pace they would arrive.
  const std::size_t slice =
      options_.wire.throttle ? std::max<std::size_t>(1, hostRate / 10'000) : count;
  std::size_t next = 0;
  while (next < count) {
    const std::size_t last = std::min(count, next + slice);
    PaceBytes(last - next, hostRate, handedAt, rxFreeAtUs_);
    bool stall = false;
    {
      std::vector<uint8_t> out;
      std::lock_guard lock(mutex_);
      for (; next < last && !stall; ++next) {
        const ByteFate fate = DrawFate(options_.wire.toChip, random_);
        if (fate.hangsUp) {
          Send(out);
          HangUp();
          return;
        }
        stall = fate.stalls;
        const RamProgram* loader = chip_.RunningLoader();
        if ((fate.lost || fate.doubled || fate.flip != 0) && loader != nullptr &&
            loader->Stats().trailerSent) {
          ++faultsAfterTrailer_;
        }
        if (fate.lost) {
          continue;
        }
        const auto byte = static_cast<uint8_t>(bytes[next] ^ fate.flip);
        const uint8_t heard = hostRate == chip_.Rate() ? byte : Garble(byte);
        chip_.Receive(heard, out);
        if (fate.doubled) {
          chip_.Receive(heard, out);
        }
      }
      Send(out);
      chip_.SettleRate();
      if (options_.wire.hangUpAfterBlocks != 0 && chip_.RunningLoader() != nullptr &&
          chip_.RunningLoader()->Stats().blocksAccepted >= options_.wire.hangUpAfterBlocks) {
        HangUp();
        return;
      }
    }
    if (stall) {
      // The chip hears nothing for a while; what the host sends meanwhile waits in the line.
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.wire.toChip.stallMs));
    }
  }
}

// Bytes from the chip to the host; the caller holds the lock.
void PtyChip::Send(std::vector<uint8_t>& bytes) {
  if (bytes.empty() || master_ < 0) {
    bytes.clear();
    return;
  }
  const bool garbled = HostRate() != chip_.Rate();
  const int64_t now = MonotonicUs();
  bool hangUp = false;
  for (const uint8_t original : bytes) {
    const ByteFate fate = DrawFate(options_.wire.toHost, random_);
    if (fate.hangsUp) {
      hangUp = true;
      break;
    }
    if (fate.stalls) {
      releaseAtUs_ = std::max(releaseAtUs_, now + int64_t{options_.wire.toHost.stallMs} * 1000);
    }
    if (fate.lost) {
      continue;
    }
    const auto byte = static_cast<uint8_t>(original ^ fate.flip);
    const uint8_t sent = garbled ? Garble(byte) : byte;
    heldForHost_.push_back(sent);
    if (fate.doubled) {
      heldForHost_.push_back(sent);
    }
  }
  bytes.clear();
  if (options_.wire.latencyMs != 0 && !heldForHost_.empty()) {
    // The adapter sends what it holds when its timer next fires.
    const int64_t period = int64_t{options_.wire.latencyMs} * 1000;
    const int64_t tick = startUs_ + ((now - startUs_) / period + 1) * period;
    releaseAtUs_ = std::max(releaseAtUs_, tick);
  }
  ReleaseHeldBytes();
  if (hangUp) {
    HangUp();
  }
}

// Hands the host what the line holds for it once its time has come; the caller holds the lock.
void PtyChip::ReleaseHeldBytes() {
  if (heldForHost_.empty() || MonotonicUs() < releaseAtUs_) {
    return;
  }
  std::vector<uint8_t> wire;
  wire.swap(heldForHost_);
  WriteToHost(wire);
}

// The caller holds the lock.
void PtyChip::WriteToHost(const std::vector<uint8_t>& wire) {
  const int64_t handedAt = MonotonicUs();
  const uint32_t chipRate = chip_.Rate();
  if (options_.wire.trace) {
    Trace(HostRate() != chipRate ? "chip>host (garbled)" : "chip>host", chipRate, wire.data(),
          wire.size());
  }
  const std::size_t slice =
      options_.wire.throttle ? std::max<std::size_t>(1, chipRate / 10'000) : wire.size();
  for (std::size_t first = 0; first < wire.size() && master_ >= 0; first += slice) {
    const std::size_t length = std::min(wire.size() - first, slice);
    std::size_t written = 0;
    // Nobody may be reading (no host yet): like a UART, the chip sends anyway and what the
    // other side's full buffer cannot take is lost.
    int patience = 20;
    while (written < length && patience > 0) {
      const ssize_t n = write(master_, wire.data() + first + written, length - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        return;
      } else {
        pollfd entry{master_, POLLOUT, 0};
        poll(&entry, 1, 10);
        --patience;
      }
    }
    PaceBytes(length, chipRate, handedAt, txFreeAtUs_);
  }
}

// A running application sends its sentences at the line's pace: a chip sent back to its boot
// ROM mid-sentence never sends the rest.
void PtyChip::Chatter() {
  std::lock_guard lock(mutex_);
  if (!options_.wire.chatter || options_.chip.silent ||
      chip_.CurrentMode() != Chip::Mode::kApplication) {
    chatterLeft_.clear();
    return;
  }
  const int64_t now = MonotonicUs();
  if (chatterLeft_.empty()) {
    if (now < nextChatterUs_) {
      return;
    }
    chatterLeft_ = NmeaSentence(chatterCount_++);
    chatterSentUs_ = now;
    nextChatterUs_ = now + kChatterPeriodUs;
  }
  // Ten bits a byte: what the line has carried since the last piece went.
  const auto due = static_cast<std::size_t>((now - chatterSentUs_) * chip_.Rate() / 10'000'000);
  const std::size_t count = std::min(chatterLeft_.size(), std::max<std::size_t>(due, 1));
  std::vector<uint8_t> bytes(chatterLeft_.begin(),
                             chatterLeft_.begin() + static_cast<std::ptrdiff_t>(count));
  chatterLeft_.erase(0, count);
  chatterSentUs_ = now;
  Send(bytes);
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
  if (master_ < 0) {
    return;
  }
  // Closing the master hangs up the slave: the host's reads fail from now on.
  const RamProgram* loader = chip_.RunningLoader();
  if (loader != nullptr && loader->Stats().trailerSent) {
    ++faultsAfterTrailer_;
  }
  close(master_);
  master_ = -1;
  hungUp_ = true;
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
  return (MonotonicUs() - lastActivityUs_) / 1000;
}

ChipReport PtyChip::Report() const {
  std::lock_guard lock(mutex_);
  ChipReport report;
  report.hungUp = hungUp_;
  report.faultsAfterTrailer = faultsAfterTrailer_;
  report.sentencesHeard = chip_.SentencesHeard();
  report.flashHoldsAcceptedImage = chip_.FlashHoldsAcceptedImage();
  if (const RamProgram* loader = chip_.RunningLoader(); loader != nullptr) {
    report.loader = loader->Stats();
    if (const AcceptedStream* accepted = loader->Accepted(); accepted != nullptr) {
      report.accepted = *accepted;
      report.streamRecorded = true;
    }
    report.finishArrived = report.loader.finished;
    report.streamComplete = report.accepted.complete;
  }
  return report;
}

}  // namespace tarvok::sim
