// One burn of the soak, drawn from its seed alone: the image, the rates, whether the boot ROM
// is woken or the loader already runs, and what goes wrong on the line and in the chip.
// The same seed gives the same plan, so any burn can be run again by itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/PtyChip.h"

namespace tarvok::soak {

enum class Profile {
  kFull,   // every fault, faults towards the host too (a lost reply costs the host its
           // longest wait, up to about three minutes), images up to 4 MiB
  kQuick,  // for CI: faults towards the chip only, images up to 256 KiB
};

struct BurnPlan {
  uint64_t seed = 0;
  uint32_t imageSize = 0;
  uint32_t romRate = 9600;
  uint32_t burnRate = 0;  // of the image transfer; 0 keeps the ROM's rate
  bool fullRun = false;   // wake the boot ROM and download the loader
  std::string scenario;   // what the plan does to the burn, for people
  sim::PtyChipOptions chip;
};

// `fullRunShare` of the burns wake the boot ROM and download the loader (about 9 s each); the
// rest start with the loader already running.
inline constexpr double kDefaultFullRunShare = 0.02;
BurnPlan PlanBurn(uint64_t seed, Profile profile, double fullRunShare = kDefaultFullRunShare);
// The image a plan burns: its bytes follow from the seed.
std::vector<uint8_t> PlanImage(const BurnPlan& plan);
// One line: seed, size, rates, mode, latency and scenario.
std::string Describe(const BurnPlan& plan);

}  // namespace tarvok::soak
