#include "burn/LineOptions.h"

#include <algorithm>

#include "burn/LoaderLink.h"

namespace tarvok {

bool IsSupportedRomRate(uint32_t rate) {
  return std::any_of(kRomRates.begin(), kRomRates.end(),
                     [rate](const auto& option) { return option.value == rate; });
}

bool IsSupportedBurnRate(uint32_t rate) {
  return std::any_of(kBurnRates.begin(), kBurnRates.end(),
                     [rate](const auto& option) { return option.value == rate; });
}

uint8_t BaudCodeOfRate(uint32_t rate) {
  for (uint8_t code = 1; code <= kMaxBaudCode; ++code) {
    if (baudRates[code] == rate) {
      return code;
    }
  }
  return 0;
}

}  // namespace tarvok
