// The words people read about a burn's end: what a burn status means and what to check.
#pragma once

#include <cstdint>
#include <string>

#include "burn/BurnRequest.h"

namespace tarvok {

// What a burn status means, in words, with what to check; for the image stream (14) the
// stream's own result says which of its failures it was.
std::string ExplainBurnStatus(uint32_t status, uint32_t stepResult = 0);

// Fills the outcome's summary and explanation from what it holds.
void DescribeOutcome(BurnOutcome& outcome, const BurnRequest& request);

inline constexpr const char* kInterruptedText = "the burn was interrupted";
inline constexpr const char* kPowerCycleText = "the chip needs a power cycle before the next burn";

}  // namespace tarvok
