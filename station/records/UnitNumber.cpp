#include "station/records/UnitNumber.h"

#include <limits>

namespace tarvok {

namespace {

constexpr uint32_t kWordBytes = 4;

bool IsDecimal(const UnitNumberPlan& plan) {
  return plan.encoding == UnitEncoding::kDecimal;
}

}  // namespace

uint32_t FieldBytes(const UnitNumberPlan& plan) {
  return IsDecimal(plan) ? plan.width : kWordBytes;
}

uint64_t LargestFieldNumber(const UnitNumberPlan& plan) {
  if (!IsDecimal(plan)) {
    return std::numeric_limits<uint32_t>::max();
  }
  // 10^width - 1, or every 64-bit number once the width holds them all.
  uint64_t largest = 0;
  for (uint32_t digit = 0; digit < plan.width; ++digit) {
    if (largest > (std::numeric_limits<uint64_t>::max() - 9) / 10) {
      return std::numeric_limits<uint64_t>::max();
    }
    largest = largest * 10 + 9;
  }
  return largest;
}

std::string ProblemWithUnitPlan(const UnitNumberPlan& plan, uint32_t imageSize) {
  if (IsDecimal(plan) && (plan.width == 0 || plan.width > kMaxDecimalWidth)) {
    return "a decimal unit number has 1 to " + std::to_string(kMaxDecimalWidth) + " digits, not " +
           std::to_string(plan.width);
  }
  if (plan.step == 0) {
    return "the unit number's step is 0: every board would get the same number";
  }
  if (plan.offset >= imageSize) {
    return "the unit number's offset " + std::to_string(plan.offset) + " is past the image's " +
           std::to_string(imageSize) + " bytes";
  }
  const uint64_t end = uint64_t{plan.offset} + FieldBytes(plan);
  if (end > imageSize) {
    return "the unit number's " + std::to_string(FieldBytes(plan)) + " bytes at offset " +
           std::to_string(plan.offset) + " run past the image's " + std::to_string(imageSize) +
           " bytes";
  }
  if (!NumberFitsField(plan, plan.first)) {
    return "the first unit number " + std::to_string(plan.first) + " does not fit " +
           UnitEncodingWord(plan) + " (at most " + std::to_string(LargestFieldNumber(plan)) + ")";
  }
  return {};
}

bool NumberFitsField(const UnitNumberPlan& plan, uint64_t number) {
  return number <= LargestFieldNumber(plan);
}

void WriteUnitNumber(const UnitNumberPlan& plan, uint64_t number, uint8_t* image) {
  uint8_t* field = image + plan.offset;
  switch (plan.encoding) {
    case UnitEncoding::kLittleEndian32:
      for (uint32_t i = 0; i < kWordBytes; ++i) {
        field[i] = static_cast<uint8_t>(number >> (8 * i));
      }
      break;
    case UnitEncoding::kBigEndian32:
      for (uint32_t i = 0; i < kWordBytes; ++i) {
        field[kWordBytes - 1 - i] = static_cast<uint8_t>(number >> (8 * i));
      }
      break;
    case UnitEncoding::kDecimal:
      for (uint32_t i = plan.width; i > 0; --i) {
        field[i - 1] = static_cast<uint8_t>('0' + number % 10);
        number /= 10;
      }
      break;
  }
}

bool ParseUnitEncoding(const std::string& word, UnitNumberPlan& plan) {
  if (word == "le32" || word == "be32") {
    plan.encoding = word == "le32" ? UnitEncoding::kLittleEndian32 : UnitEncoding::kBigEndian32;
    plan.width = kWordBytes;
    return true;
  }
  const std::string prefix = "dec:";
  if (word.rfind(prefix, 0) != 0) {
    return false;
  }
  const std::string digits = word.substr(prefix.size());
  // Up to four digits: enough to say what is wrong with any width, never an overflow.
  if (digits.empty() || digits.size() > 4 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  plan.encoding = UnitEncoding::kDecimal;
  plan.width = static_cast<uint32_t>(std::stoul(digits));
  return true;
}

std::string UnitEncodingWord(const UnitNumberPlan& plan) {
  switch (plan.encoding) {
    case UnitEncoding::kLittleEndian32:
      return "le32";
    case UnitEncoding::kBigEndian32:
      return "be32";
    case UnitEncoding::kDecimal:
      break;
  }
  return "dec:" + std::to_string(plan.width);
}

}  // namespace tarvok
