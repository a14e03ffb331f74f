// What became of one burn, and, for a success with a wrong flash, whether the protocol could
// have noticed at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/PtyChip.h"

namespace tarvok::soak {

enum class Outcome {
  kSuccess,              // status 0, the flash holds the image, the finish arrived
  kReportedFailure,      // a nonzero status
  kWrongFlashExplained,  // status 0, wrong flash, through a change the protocol cannot see
                         // (only where the loader declares no read-back of the flash)
  kWrongFlashDefect,     // status 0, wrong flash, and the protocol should have caught it
  kUncheckedSuccess,     // status 0 from a loader that declares the read-back, not matched
  kFinishLost,           // status 0, the flash holds the image, but 0xE5 never arrived
  kFinishLostToFaults,   // the same, with the line faulting the host's bytes after the trailer
  kCrash,                // the burn's process died
  kHang,                 // the host waited past the protocol's own bound
  kSetupFailed,          // no pseudo-terminal or the port did not open: not a burn
};

const char* OutcomeName(Outcome outcome);
bool IsBad(Outcome outcome);

// Why a chip could accept a stream other than `image` without any check failing, or empty
// when nothing explains it. The unchecked fields are the flash parameters and the stream
// header; a block passes when its 16-bit additive sum still agrees.
std::string ExplainWrongFlash(const std::vector<uint8_t>& image, const sim::AcceptedStream& got);

}  // namespace tarvok::soak
