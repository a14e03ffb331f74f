// The flash read-back of an outcome as the reports and the logs write it: one word for the
// result, and the two CRC-32s only where they are known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "burn/BurnRequest.h"

namespace tarvok {

struct ReadBackWordEntry {
  ReadBack readBack;
  const char* word;
};
inline constexpr ReadBackWordEntry kReadBackWords[] = {
    {ReadBack::kNotAsked, "not asked"},
    {ReadBack::kMatched, "matched"},
    {ReadBack::kDiffers, "differs"},
    {ReadBack::kNoAnswer, "no answer"},
};

inline const char* ReadBackWord(ReadBack readBack) {
  for (const ReadBackWordEntry& entry : kReadBackWords) {
    if (entry.readBack == readBack) {
      return entry.word;
    }
  }
  return "not asked";
}

inline std::optional<ReadBack> ReadBackOfWord(const std::string& word) {
  for (const ReadBackWordEntry& entry : kReadBackWords) {
    if (word == entry.word) {
      return entry.readBack;
    }
  }
  return std::nullopt;
}

// The image's CRC-32 once the flash was asked for its own; the flash's once it answered.
inline std::optional<uint32_t> ImageCrcOf(const BurnOutcome& outcome) {
  return outcome.readBack == ReadBack::kNotAsked ? std::nullopt
                                                 : std::optional<uint32_t>(outcome.imageCrc);
}
inline std::optional<uint32_t> FlashCrcOf(const BurnOutcome& outcome) {
  const bool answered =
      outcome.readBack == ReadBack::kMatched || outcome.readBack == ReadBack::kDiffers;
  return answered ? std::optional<uint32_t>(outcome.flashCrc) : std::nullopt;
}

// "0x1A2B3C4D", as the reports and the log write a CRC-32.
std::string Crc32Text(uint32_t crc);
// The inverse of Crc32Text: exactly "0x" and eight hexadecimal digits.
std::optional<uint32_t> Crc32OfText(const std::string& text);

}  // namespace tarvok
