#include "sim/Line.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/PreciseClock.h"
#include "sim/Chip.h"

namespace tarvok::sim {
namespace {

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

Line::Line(const WireOptions& wire, int64_t startUs)
    : wire_(wire), startUs_(startUs), random_(wire.seed) {}

std::size_t Line::SliceBytes(uint32_t rate, std::size_t count) const {
  return wire_.throttle ? std::max<std::size_t>(1, rate / 10'000) : count;
}

// Bytes handed over together travel back to back, so sleeping late for one slice does not
// slow the next.
void Line::Pace(std::size_t count, uint32_t rate, int64_t handedAtUs, int64_t& lineFreeAtUs) const {
  if (!wire_.throttle || rate == 0) {
    return;
  }
  const int64_t start = std::max(handedAtUs, lineFreeAtUs);
  lineFreeAtUs = start + static_cast<int64_t>(count) * 10'000'000 / rate;
  WaitUntilUs(lineFreeAtUs);
}

void Line::PaceToChip(std::size_t count, uint32_t rate, int64_t handedAtUs) {
  Pace(count, rate, handedAtUs, toChipFreeAtUs_);
}

void Line::PaceToHost(std::size_t count, uint32_t rate, int64_t handedAtUs) {
  Pace(count, rate, handedAtUs, toHostFreeAtUs_);
}

Arrival Line::CarryToChip(uint8_t byte, bool ratesAgree) {
  const ByteFate fate = DrawFate(wire_.toChip, random_);
  Arrival arrival;
  if (fate.hangsUp) {
    arrival.hangsUp = true;
    return arrival;
  }
  arrival.stalls = fate.stalls;
  arrival.faulted = fate.lost || fate.doubled || fate.flip != 0;
  if (fate.lost) {
    arrival.copies = 0;
    return arrival;
  }
  const auto flipped = static_cast<uint8_t>(byte ^ fate.flip);
  arrival.byte = ratesAgree ? flipped : Garble(flipped);
  arrival.copies = fate.doubled ? 2 : 1;
  return arrival;
}

void Line::StallToChip() const {
  std::this_thread::sleep_for(std::chrono::milliseconds(wire_.toChip.stallMs));
}

bool Line::CarryToHost(const std::vector<uint8_t>& bytes, bool ratesAgree, int64_t nowUs) {
  bool alive = true;
  for (const uint8_t original : bytes) {
    const ByteFate fate = DrawFate(wire_.toHost, random_);
    if (fate.hangsUp) {
      alive = false;
      break;
    }
    if (fate.stalls) {
      releaseAtUs_ = std::max(releaseAtUs_, nowUs + int64_t{wire_.toHost.stallMs} * 1000);
    }
    if (fate.lost) {
      continue;
    }
    const auto flipped = static_cast<uint8_t>(original ^ fate.flip);
    const uint8_t sent = ratesAgree ? flipped : Garble(flipped);
    heldForHost_.push_back(sent);
    if (fate.doubled) {
      heldForHost_.push_back(sent);
    }
  }
  if (wire_.latencyMs != 0 && !heldForHost_.empty()) {
    // The adapter sends what it holds when its timer next fires.
    const int64_t period = int64_t{wire_.latencyMs} * 1000;
    const int64_t tick = startUs_ + ((nowUs - startUs_) / period + 1) * period;
    releaseAtUs_ = std::max(releaseAtUs_, tick);
  }
  return alive;
}

std::vector<uint8_t> Line::TakeDue(int64_t nowUs) {
  std::vector<uint8_t> due;
  if (!heldForHost_.empty() && nowUs >= releaseAtUs_) {
    due.swap(heldForHost_);
  }
  return due;
}

}  // namespace tarvok::sim
