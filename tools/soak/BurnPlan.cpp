#include "tools/soak/BurnPlan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>

namespace tarvok::soak {
namespace {

constexpr uint32_t kMaxImage = 4 * 1024 * 1024;
constexpr uint32_t kQuickMaxImage = 256 * 1024;
// Where the protocol changes shape: shorter than the header's four data bytes, exactly the
// header, one byte of block, a whole block and one more, two blocks.
constexpr std::array<uint32_t, 10> kEdgeSizes = {2, 3, 4, 5, 1024, 1025, 1028, 1029, 2052, 2053};

double LogUniform(std::mt19937_64& random, double low, double high) {
  std::uniform_real_distribution<double> exponent(std::log(low), std::log(high));
  return std::exp(exponent(random));
}

uint32_t DrawSize(std::mt19937_64& random, Profile profile) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  const double pick = chance(random);
  if (pick < 0.2) {
    return kEdgeSizes[std::uniform_int_distribution<std::size_t>(0, kEdgeSizes.size() - 1)(random)];
  }
  const uint32_t largest = profile == Profile::kQuick ? kQuickMaxImage : kMaxImage;
  if (pick < 0.97 || profile == Profile::kQuick) {
    return static_cast<uint32_t>(LogUniform(random, 2, std::min<uint32_t>(largest, 64 * 1024)));
  }
  return static_cast<uint32_t>(LogUniform(random, 64 * 1024, largest));
}

// Probabilities per byte of the noise on one direction of the line.
void Noise(std::mt19937_64& random, sim::LineFaults& faults, double low, double high) {
  std::bernoulli_distribution half(0.5);
  const double p = LogUniform(random, low, high);
  faults.corrupt = half(random) ? p : 0;
  faults.lose = half(random) ? p : 0;
  faults.duplicate = half(random) ? p / 2 : 0;
  if (faults.corrupt == 0 && faults.lose == 0 && faults.duplicate == 0) {
    faults.corrupt = p;
  }
}

// One of the ways the loader can refuse: a block answered with 5, 6 or 7, the stream ended
// with 0xB6, busy instead of hello, a hello of version 1.1, or the first probes unanswered.
void DrawRefusal(std::mt19937_64& random, uint32_t blocks, sim::LoaderFaults& loader) {
  const uint32_t which = std::uniform_int_distribution<uint32_t>(0, 4)(random);
  if (which == 0 && blocks > 0) {
    loader.replyCodeBlock = std::uniform_int_distribution<uint32_t>(0, blocks - 1)(random);
    loader.replyCode = static_cast<uint8_t>(std::uniform_int_distribution<int>(5, 7)(random));
  } else if (which == 1) {
    loader.finalFailure = true;
  } else if (which == 2) {
    loader.busyInsteadOfHello = true;
  } else if (which == 3) {
    loader.helloMinor = 1;
  } else {
    loader.firstEchoedProbe = std::uniform_int_distribution<uint32_t>(2, 12)(random);
  }
}

// What goes wrong in the burn, drawn after the rest of the plan.
void DrawScenario(std::mt19937_64& random, Profile profile, BurnPlan& plan) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  sim::PtyChipOptions& o = plan.chip;
  const uint32_t blocks = plan.imageSize > 4 ? (plan.imageSize - 4 + 1023) / 1024 : 0;
  const double scenario = chance(random);
  if (scenario < 0.30) {
    plan.scenario = "clean";
  } else if (scenario < 0.50) {
    // Every block hit is sent again, after a 50 ms silence when a byte went missing: keep the
    // image to a size whose burn still ends in seconds.
    plan.scenario = "noise to chip";
    Noise(random, o.wire.toChip, 1e-5, 3e-3);
    plan.imageSize = std::min<uint32_t>(plan.imageSize, 256 * 1024);
  } else if (scenario < 0.60) {
    // As hard as a fault campaign goes: most blocks need several tries; small images so
    // that some still get through.
    plan.scenario = "heavy noise to chip";
    Noise(random, o.wire.toChip, 2e-3, 5e-2);
    plan.imageSize = std::min<uint32_t>(plan.imageSize, 8 * 1024);
  } else if (scenario < 0.70 && blocks > 0) {
    plan.scenario = "rejection streak";
    o.chip.loader.rejectBlock = std::uniform_int_distribution<uint32_t>(0, blocks - 1)(random);
    o.chip.loader.rejectTimes = chance(random) < 0.1
                                    ? std::uniform_int_distribution<uint32_t>(90, 110)(random)
                                    : std::uniform_int_distribution<uint32_t>(1, 8)(random);
  } else if (scenario < 0.76) {
    plan.scenario = "loader refuses";
    DrawRefusal(random, blocks, o.chip.loader);
  } else if (scenario < 0.84) {
    plan.scenario = "stalls to chip";
    o.wire.toChip.stall = LogUniform(random, 1e-4, 1e-2);
    o.wire.toChip.stallMs = std::uniform_int_distribution<uint32_t>(5, 200)(random);
    plan.imageSize = std::min<uint32_t>(plan.imageSize, 256 * 1024);  // each stall is real time
  } else if (scenario < 0.88) {
    plan.scenario = "hang-up";
    const uint64_t bytes = uint64_t{plan.imageSize} + 64;
    o.wire.toChip.hangUp = 1.0 / static_cast<double>(bytes) / std::max(0.05, chance(random));
  } else if (profile == Profile::kFull && scenario < 0.93) {
    plan.scenario = "stalls to host";
    o.wire.toHost.stall = LogUniform(random, 1e-3, 5e-2);
    o.wire.toHost.stallMs = std::uniform_int_distribution<uint32_t>(5, 300)(random);
  } else if (profile == Profile::kFull) {
    // Every lost or changed reply costs the host one of its waits (0.5 s, 16 s or 3 min).
    plan.scenario = "noise both ways";
    Noise(random, o.wire.toChip, 1e-5, 1e-3);
    Noise(random, o.wire.toHost, 1e-4, 1e-2);
    plan.imageSize = std::min<uint32_t>(plan.imageSize, 16 * 1024);
  } else {
    plan.scenario = "clean";
  }
}

}  // namespace

BurnPlan PlanBurn(uint64_t seed, Profile profile, double fullRunShare) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  BurnPlan plan;
  plan.seed = seed;
  plan.imageSize = DrawSize(random, profile);
  plan.romRate = chance(random) < 0.7 ? 9600 : 115200;
  plan.burnRateList = std::uniform_int_distribution<int32_t>(-1, 3)(random);
  plan.fullRun = chance(random) < (profile == Profile::kQuick ? fullRunShare / 2 : fullRunShare);

  sim::PtyChipOptions& o = plan.chip;
  o.chip.romRate = plan.romRate;
  o.chip.startInLoader = !plan.fullRun;
  o.chip.flashBytes = std::max<uint32_t>(64 * 1024, (plan.imageSize / 4096 + 2) * 4096);
  const double fill = chance(random);
  o.chip.flashFill = fill < 0.4 ? 0xFF : fill < 0.7 ? 0x00 : static_cast<uint8_t>(random());
  o.wire.seed = static_cast<uint32_t>(random());
  const double latency = chance(random);
  const bool small = plan.imageSize <= 64 * 1024;
  o.wire.latencyMs = latency < 0.7 ? 0 : latency < 0.85 ? 1 : !small ? 0 : latency < 0.95 ? 16 : 40;
  if (chance(random) < 0.05) {
    o.chip.loader.eraseWait = static_cast<uint8_t>(random());
  }

  DrawScenario(random, profile, plan);
  return plan;
}

std::vector<uint8_t> PlanImage(const BurnPlan& plan) {
  std::mt19937_64 random(plan.seed ^ 0x9E3779B97F4A7C15ull);
  std::vector<uint8_t> bytes(plan.imageSize);
  const auto kind = random() % 10;
  if (kind == 0) {
    std::fill(bytes.begin(), bytes.end(), uint8_t{0xFF});  // what erased flash already holds
  } else if (kind == 1) {
    std::fill(bytes.begin(), bytes.end(), uint8_t{0x00});
  } else {
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(random());
    }
  }
  return bytes;
}

std::string Describe(const BurnPlan& plan) {
  char line[256];
  std::snprintf(
      line, sizeof(line), "seed %llu: %u bytes, ROM %u, burn %s, %s, latency %u ms, %s",
      static_cast<unsigned long long>(plan.seed), plan.imageSize, plan.romRate,
      plan.burnRateList < 0 ? "at ROM rate" : std::to_string(115200u << plan.burnRateList).c_str(),
      plan.fullRun ? "boot ROM and loader download" : "loader running", plan.chip.wire.latencyMs,
      plan.scenario.c_str());
  return line;
}

}  // namespace tarvok::soak
