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

BurnResult RunBurn(const BurnPlan& plan);

}  // namespace tarvok::soak
