#include "app/ReadBackWords.h"

#include <cctype>
#include <cstdio>

namespace tarvok {

std::string Crc32Text(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", crc);
  return text;
}

std::optional<uint32_t> Crc32OfText(const std::string& text) {
  if (text.size() != 10 || text[0] != '0' || text[1] != 'x') {
    return std::nullopt;
  }
  uint32_t crc = 0;
  for (std::size_t k = 2; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if (std::isxdigit(c) == 0) {
      return std::nullopt;
    }
    crc = crc * 16 +
          static_cast<uint32_t>(std::isdigit(c) != 0 ? c - '0' : std::toupper(c) - 'A' + 10);
  }
  return crc;
}

}  // namespace tarvok
