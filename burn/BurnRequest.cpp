#include "burn/BurnRequest.h"

#include <algorithm>

#include "burn/BootStageLink.h"
#include "burn/BurnFiles.h"
#include "serial/NetworkPortName.h"

namespace tarvok {
namespace {

template <typename Value, std::size_t N>
bool IsOneOf(const std::array<LineOption<Value>, N>& options, Value value) {
  return std::any_of(options.begin(), options.end(),
                     [value](const auto& option) { return option.value == value; });
}

}  // namespace

// A network port's name that cannot be used, or a raw TCP port asked for a rate its server
// cannot be told: refused before anything is sent, so that the chip is never left between
// rates.
std::string ProblemWithNetworkPort(const std::string& device, const BurnLine& line) {
  NetworkPortName name;
  switch (ParseNetworkPortName(device, name)) {
    case NetworkNameParse::kNotNetwork:
      return "";
    case NetworkNameParse::kUnknownScheme:
      return device +
             " is not a port this tool can reach: a network port is rfc2217://HOST:PORT "
             "or tcp://HOST:PORT";
    case NetworkNameParse::kMalformed:
      return device + " does not name a host and a port of 1 to 65535 (rfc2217://HOST:PORT)";
    case NetworkNameParse::kOk:
      break;
  }
  const bool rateChanges = line.burnRate != 0 && line.burnRate != line.romRate;
  if (name.scheme != NetworkScheme::kRawTcp || !rateChanges) {
    return "";
  }
  NetworkPortName rfc2217 = name;
  rfc2217.scheme = NetworkScheme::kRfc2217;
  return device + " carries data only and cannot change the line's rate, but the burn rate " +
         std::to_string(line.burnRate) + " differs from the boot ROM's " +
         std::to_string(line.romRate) + ": name the port " + NetworkPortNameText(rfc2217) +
         " on a server that speaks RFC 2217 (ser2net's telnet(rfc2217) accepter), or burn at "
         "the boot ROM's rate, with the server's line set to it";
}

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
  return ProblemWithNetworkPort(request.devicePath, line);
}

}  // namespace tarvok
