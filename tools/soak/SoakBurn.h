// Runs one planned burn: the simulated chip on a pseudo-terminal, the port opened and set up
// as the dialog does it, and the real burn sequence over it on a thread of its own, watched
// against the protocol's own bounds.
#pragma once

#include <cstdint>
#include <string>

#include "burn/BurnRequest.h"
#include "tools/soak/BurnPlan.h"
#include "tools/soak/Verdict.h"

namespace tarvok::soak {

struct BurnResult {
  Outcome outcome = Outcome::kSetupFailed;
  uint32_t status = 0;
  uint32_t stepResult = 0;
  ReadBack readBack = ReadBack::kNotAsked;  // as the burn reported it
  uint32_t imageCrc = 0, flashCrc = 0;      // as the burn reported them
  bool flashWrong = false;                  // the chip's flash does not hold the image
  double seconds = 0;
  uint32_t sentencesHeard = 0;  // handshake cycles the chip saw (full runs)
  uint32_t rejections = 0;
  std::string detail;  // the explanation of a wrong flash, or what went wrong
};

BurnResult RunBurn(const BurnPlan& plan);

}  // namespace tarvok::soak
