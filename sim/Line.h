// The line between the host and the simulated chip, as WireOptions make it: each direction
// throttled to its baud rate and garbled while the two sides' rates differ, the bytes towards
// the host held back for a USB adapter's latency timer, and each direction's seeded faults.
// It does no locking of its own: the chip's transport calls it under its lock, all but the
// pacing and stalls towards the chip, which only its reading thread uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/WireOptions.h"

namespace tarvok::sim {

// What arrives of one byte the host put on the line.
struct Arrival {
  bool hangsUp = false;  // the line went dead at the byte: nothing more arrives
  bool stalls = false;   // the line stalls (Line::StallToChip) at the byte
  bool faulted = false;  // the byte was lost, doubled or had a bit flipped
  int copies = 1;        // 0 when lost, 2 when doubled
  uint8_t byte = 0;      // as the chip's UART hears it
};

class Line {
 public:
  Line(const WireOptions& wire, int64_t startUs);

  // How many bytes to hand over at once: about a millisecond of line time on a throttled
  // line, else all `count`.
  std::size_t SliceBytes(uint32_t rate, std::size_t count) const;

  // Towards the chip. Pacing holds the caller until `count` bytes handed to the line at
  // `handedAtUs` have crossed it at `rate`.
  void PaceToChip(std::size_t count, uint32_t rate, int64_t handedAtUs);
  Arrival CarryToChip(uint8_t byte, bool ratesAgree);
  // The chip hears nothing for a while; what the host sends meanwhile waits in the line.
  void StallToChip() const;

  // Towards the host. The chip's bytes wait on the line until the adapter's timer fires and
  // any stall has passed; false when the line went dead at one of them (none of the rest
  // leave).
  bool CarryToHost(const std::vector<uint8_t>& bytes, bool ratesAgree, int64_t nowUs);
  bool Holding() const { return !heldForHost_.empty(); }
  int64_t ReleaseAtUs() const { return releaseAtUs_; }
  // What the line hands the host at `nowUs`: all it holds once its time has come, else
  // nothing.
  std::vector<uint8_t> TakeDue(int64_t nowUs);
  void PaceToHost(std::size_t count, uint32_t rate, int64_t handedAtUs);

 private:
  void Pace(std::size_t count, uint32_t rate, int64_t handedAtUs, int64_t& lineFreeAtUs) const;

  WireOptions wire_;
  int64_t startUs_;  // the adapter's timer fires at whole periods from here
  std::mt19937 random_;
  std::vector<uint8_t> heldForHost_;  // waiting for the latency timer or a stall to pass
  int64_t releaseAtUs_ = 0;
  int64_t toChipFreeAtUs_ = 0;  // when the host-to-chip line has carried what it was given
  int64_t toHostFreeAtUs_ = 0;
};

}  // namespace tarvok::sim
