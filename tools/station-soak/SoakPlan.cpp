#include "tools/station-soak/SoakPlan.h"

#include <cmath>

namespace tarvok::stationsoak {
namespace {

uint32_t FaultCount(double share, uint32_t boards) {
  if (share <= 0) {
    return 0;
  }
  const auto count = static_cast<uint32_t>(std::lround(share * boards));
  return count == 0 ? 1 : count;
}

}  // namespace

SoakPlan PlanSoak(const SoakShape& shape, uint64_t seed) {
  std::mt19937_64 random(seed);
  const uint32_t boards = shape.fixtures * shape.boardsPerFixture;
  const uint32_t failing = FaultCount(shape.failShare, boards);
  const uint32_t pulled = FaultCount(shape.pullShare, boards);
  std::set<uint32_t> chosen;  // board indexes over all fixtures
  std::uniform_int_distribution<uint32_t> anyBoard(0, boards - 1);
  SoakPlan plan;
  plan.fixtures.resize(shape.fixtures);
  for (uint32_t k = 0; k < failing + pulled && chosen.size() < boards; ++k) {
    uint32_t board = anyBoard(random);
    while (chosen.count(board) != 0) {
      board = anyBoard(random);
    }
    chosen.insert(board);
    FixtureFaults& fixture = plan.fixtures[board / shape.boardsPerFixture];
    const uint32_t number = board % shape.boardsPerFixture + 1;
    (k < failing ? fixture.failing : fixture.pulled).insert(number);
  }
  return plan;
}

KillClock::KillClock(const SoakShape& shape, uint64_t seed) : shape_(shape), random_(seed) {}

uint32_t KillClock::NextRunMs() {
  if (!shape_.killForever && given_ >= shape_.kills) {
    return 0;
  }
  ++given_;
  std::uniform_int_distribution<uint32_t> span(shape_.killMinMs, shape_.killMaxMs);
  return span(random_);
}

}  // namespace tarvok::stationsoak
