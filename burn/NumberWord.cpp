#include "burn/NumberWord.h"

#include <cctype>

namespace tarvok {

std::optional<uint64_t> ParseNumberWord(const std::string& text, bool hexAllowed, uint64_t most) {
  const bool hex =
      hexAllowed && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  // At most 16 hex or 19 decimal digits: no number of 64 bits can wrap.
  if (digits.empty() || digits.size() > (hex ? 16u : 19u)) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (const char c : digits) {
    const unsigned char u = static_cast<unsigned char>(c);
    const int digit = std::isdigit(u)                ? c - '0'
                      : hex && std::isxdigit(u) != 0 ? std::tolower(u) - 'a' + 10
                                                     : -1;
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
  }
  return value <= most ? std::optional<uint64_t>(value) : std::nullopt;
}

}  // namespace tarvok
