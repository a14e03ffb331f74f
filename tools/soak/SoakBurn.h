// Runs one planned burn: the simulated chip on a pseudo-terminal, the port opened and set up
// as the dialog does it, and the real burn sequence over it on a thread of its own, watched
// against the protocol's own bounds.
#pragma once

#include <cstdint>
#include <string>

#include "tools/soak/BurnPlan.h"
#include "tools/soak/Verdict.h"

namespace tarvok::soak {

struct BurnResult {
  Outcome outcome = Outcome::kSetupFailed;
  uint32_t status = 0;
  double seconds = 0;
  uint32_t sentencesHeard = 0;  // handshake cycles the chip saw (full runs)
  uint32_t rejections = 0;
  std::string detail;  // the explanation of a wrong flash, or what went wrong
};

// The longest the host may legitimately go without sending a byte: its most patient read,
// 120 idle sleeps of 1 s and 121 reads of up to 0.51 s (a block's re-synchronisation, the
// stream's trailer), with a margin.
inline constexpr int64_t kLongestHostSilenceMs = 190'000;

BurnResult RunBurn(const BurnPlan& plan);

}  // namespace tarvok::soak
