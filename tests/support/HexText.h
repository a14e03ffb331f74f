// Intel HEX text for tests, written record by record with checksums.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvok::testing {

inline std::string HexDigits(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (const uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

// One Intel HEX record with its checksum.
inline std::string Hex(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (const uint8_t byte : bytes) {
    sum = static_cast<uint8_t>(sum + byte);
  }
  bytes.push_back(static_cast<uint8_t>(0x100 - sum));
  return ":" + HexDigits(bytes) + "\n";
}

inline const std::string kHexEnd = ":00000001FF\n";

// `image` as Intel HEX records of 16 bytes from `address`, with a 04 record wherever the
// upper half of the address changes.
inline std::string HexOf(const std::vector<uint8_t>& image, uint32_t address) {
  std::string text;
  uint32_t upper = 0;
  for (size_t at = 0; at < image.size(); at += 16) {
    const uint32_t here = address + static_cast<uint32_t>(at);
    if (here >> 16 != upper) {
      upper = here >> 16;
      text += Hex(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
    }
    const size_t take = std::min<size_t>(16, image.size() - at);
    text += Hex(0, static_cast<uint16_t>(here),
                std::vector<uint8_t>(image.data() + at, image.data() + at + take));
  }
  return text + kHexEnd;
}

}  // namespace tarvok::testing
