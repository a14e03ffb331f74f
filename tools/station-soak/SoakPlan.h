// What a station soak will do, drawn from its seed alone: which boards of which fixture fail
// or are pulled, and when the station is killed.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace tarvok::stationsoak {

struct SoakShape {
  uint32_t fixtures = 4;
  uint32_t boardsPerFixture = 8;
  double failShare = 0.05;  // of all boards; at least one when the share is above 0
  double pullShare = 0.05;
  uint32_t kills = 3;  // 0: none; with killForever, no limit
  bool killForever = false;
  uint32_t killMinMs = 3000;  // from one start of the station to its next kill
  uint32_t killMaxMs = 8000;
};

struct FixtureFaults {
  std::set<uint32_t> failing;  // board numbers, from 1
  std::set<uint32_t> pulled;
};

struct SoakPlan {
  std::vector<FixtureFaults> fixtures;
};

SoakPlan PlanSoak(const SoakShape& shape, uint64_t seed);

// The moments of the kills, one after the other: how long the station runs before the next.
class KillClock {
 public:
  KillClock(const SoakShape& shape, uint64_t seed);
  // Milliseconds from a start of the station to its kill; 0 when it is no longer killed.
  uint32_t NextRunMs();

 private:
  SoakShape shape_;
  std::mt19937_64 random_;
  uint32_t given_ = 0;
};

}  // namespace tarvok::stationsoak
