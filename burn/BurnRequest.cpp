#include "burn/BurnRequest.h"

#include <algorithm>

#include "burn/BootStageLink.h"
#include "burn/BurnFiles.h"

namespace tarvok {
namespace {

template <typename Value, std::size_t N>
bool IsOneOf(const std::array<LineOption<Value>, N>& options, Value value) {
  return std::any_of(options.begin(), options.end(),
                     [value](const auto& option) { return option.value == value; });
}

}  // namespace

std::string ProblemWithRequest(const BurnRequest& request) {
  if (request.devicePath.empty()) {
    return "no port was given";
  }
  if (!request.image) {
    return "no image was given";
  }
  const BurnLine& line = request.line;
  if (!IsSupportedRomRate(line.romRate)) {
    return "the boot ROM's rate " + std::to_string(line.romRate) + " is not one it talks";
  }
  if (line.burnRate != 0 && !IsSupportedBurnRate(line.burnRate)) {
    return "the burn rate " + std::to_string(line.burnRate) + " is not a supported rate";
  }
  if (!IsOneOf(kDataBitsOptions, line.dataBits) || !IsOneOf(kParityOptions, line.parity) ||
      !IsOneOf(kStopBitsOptions, line.stopBits)) {
    return "the data bits, parity or stop bits are not a supported setting";
  }
  if (request.loader && (request.loader->empty() || request.loader->size() > kMaxLoaderBytes)) {
    return "the RAM loader must hold 1 to " + std::to_string(kMaxLoaderBytes) + " bytes";
  }
  if (request.bootStage &&
      (request.bootStage->empty() || request.bootStage->size() > kBootStageMaxBytes)) {
    return "the boot stage must hold 1 to " + std::to_string(kBootStageMaxBytes) + " bytes";
  }
  return "";
}

}  // namespace tarvok
