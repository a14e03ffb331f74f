// Unit numbers written into each board's image: where the field is, how the number is encoded
// there, and the series the numbers follow.
#pragma once

#include <cstdint>
#include <string>

namespace tarvok {

enum class UnitEncoding { kLittleEndian32, kBigEndian32, kDecimal };

struct UnitNumberPlan {
  uint32_t offset = 0;  // where in the image the field starts
  uint64_t first = 0;   // the first number
  uint64_t step = 1;    // added for each board
  UnitEncoding encoding = UnitEncoding::kLittleEndian32;
  uint32_t width =
      0;  // digits of kDecimal (ASCII, zero-padded, fixed width); 4 bytes for the 32-bit ones
};

// The most digits a decimal field may have: enough for every 64-bit number.
inline constexpr uint32_t kMaxDecimalWidth = 20;

// How many bytes of the image the field takes.
uint32_t FieldBytes(const UnitNumberPlan& plan);

// The largest number the field holds.
uint64_t LargestFieldNumber(const UnitNumberPlan& plan);

// Why the plan cannot be used with an image of `imageSize` bytes, for people; empty when it can:
// an offset past the image, a field that does not fit, step 0, a width of 0 or above 20, a
// first number that overflows the field.
std::string ProblemWithUnitPlan(const UnitNumberPlan& plan, uint32_t imageSize);

bool NumberFitsField(const UnitNumberPlan& plan, uint64_t number);

// Writes `number` into `image` (which has at least offset+FieldBytes bytes) as the plan encodes it.
void WriteUnitNumber(const UnitNumberPlan& plan, uint64_t number, uint8_t* image);

// Parses the command line's encoding words: "le32", "be32", "dec:W" (ASCII decimal, W digits).
// false on anything else. A width out of range parses; ProblemWithUnitPlan explains it.
bool ParseUnitEncoding(const std::string& word, UnitNumberPlan& plan);

// The command line's word for the plan's encoding: "le32", "be32" or "dec:W".
std::string UnitEncodingWord(const UnitNumberPlan& plan);

}  // namespace tarvok
