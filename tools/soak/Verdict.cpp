#include "tools/soak/Verdict.h"

#include <algorithm>
#include <cstdio>

namespace tarvok::soak {
namespace {

constexpr uint32_t kBlockSize = 1024;  // what a burn sends
constexpr uint8_t kEraseFlag = 1;

uint16_t Sum16(const uint8_t* bytes, std::size_t count) {
  uint32_t sum = 0;
  for (std::size_t k = 0; k < count; ++k) {
    sum += bytes[k];
  }
  return static_cast<uint16_t>(sum);
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSuccess:
      return "success, flash == image";
    case Outcome::kReportedFailure:
      return "reported failure";
    case Outcome::kWrongFlashExplained:
      return "success, wrong flash, undetectable";
    case Outcome::kWrongFlashDefect:
      return "success, wrong flash, DEFECT";
    case Outcome::kUncheckedSuccess:
      return "success, flash not read back, DEFECT";
    case Outcome::kFinishLost:
      return "success, finish never arrived";
    case Outcome::kFinishLostToFaults:
      return "success, finish lost to line faults";
    case Outcome::kCrash:
      return "crash";
    case Outcome::kHang:
      return "hang past the protocol's bound";
    case Outcome::kSetupFailed:
      return "harness could not set up";
  }
  return "?";
}

bool IsBad(Outcome outcome) {
  return outcome == Outcome::kWrongFlashDefect || outcome == Outcome::kUncheckedSuccess ||
         outcome == Outcome::kFinishLost || outcome == Outcome::kCrash ||
         outcome == Outcome::kHang || outcome == Outcome::kSetupFailed;
}

std::string ExplainWrongFlash(const std::vector<uint8_t>& image, const sim::AcceptedStream& got) {
  const auto size = static_cast<uint32_t>(image.size());
  if (!got.parametersSeen || got.eraseFlag != kEraseFlag || got.startAddress != 0 ||
      got.endAddress != size - 1) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "flash parameters arrived changed (erase %u, %#x-%#x for %#x-%#x); they carry "
                  "no check",
                  got.eraseFlag, got.startAddress, got.endAddress, 0u, size - 1);
    return text;
  }
  std::vector<uint8_t> headerData(image.begin(), image.begin() + std::min<uint32_t>(size, 4));
  if (!got.headerSeen || got.blockSize != kBlockSize || got.headerData != headerData) {
    return "the stream header (block size, first four bytes) arrived changed; it carries no check";
  }
  // The accepted blocks, one by one against what the host sent in their place.
  for (std::size_t k = 0; k < got.blockSums.size(); ++k) {
    const std::size_t offset = 4 + k * kBlockSize;
    if (offset >= size || offset >= got.image.size()) {
      break;
    }
    const std::size_t length = std::min<std::size_t>(kBlockSize, size - offset);
    const uint8_t* sent = image.data() + offset;
    const uint8_t* accepted = got.image.data() + offset;
    if (got.image.size() < offset + length ||
        std::equal(sent, sent + length, accepted, accepted + length)) {
      continue;
    }
    const uint16_t original = Sum16(sent, length);
    std::size_t differing = 0;
    for (std::size_t b = 0; b < length; ++b) {
      differing += sent[b] != accepted[b] ? 1u : 0u;
    }
    char text[200];
    if (Sum16(accepted, length) == original) {
      std::snprintf(text, sizeof(text),
                    "block %zu arrived with %zu bytes changed and the same 16-bit sum %#06x", k,
                    differing, original);
    } else {
      std::snprintf(text, sizeof(text),
                    "block %zu (%zu bytes changed) and its sum both arrived changed and agree "
                    "(%#06x, original %#06x)",
                    k, differing, got.blockSums[k], original);
    }
    return text;
  }
  return {};
}

}  // namespace tarvok::soak
