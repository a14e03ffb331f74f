// The platform-independent half of port discovery: COM numbers and names.
#include "serial/PortDiscovery.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "serial/NetworkPortName.h"

namespace tarvok {

void EnumSerialPorts(std::vector<uint32_t>& portNumbers, int32_t& portCount) {
  portCount = 0;
  portNumbers.clear();
  for (const PortInfo& port : DiscoverSerialPorts()) {
    portNumbers.push_back(port.number);
    portCount = static_cast<int32_t>(portNumbers.size());
  }
}

void AddExtraPorts(const std::string& extraPorts, std::vector<PortInfo>& ports) {
  uint32_t next = kFirstExtraPort;
  for (const std::string& entry : SplitPortList(extraPorts)) {
    PortInfo info;
    info.number = next++;
    info.device = entry;
    info.description = HasNetworkScheme(entry) ? "network port, from TARVOK_EXTRA_PORTS"
                                               : "from TARVOK_EXTRA_PORTS";
    ports.push_back(std::move(info));
  }
}

std::string ExtraPortsOfEnvironment() {
  const char* extra = std::getenv("TARVOK_EXTRA_PORTS");
  return extra != nullptr ? extra : "";
}

int64_t ParseDecimal(const std::string& text) {
  std::size_t k = 0;
  while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) {
    ++k;
  }
  bool negative = false;
  if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
    negative = text[k] == '-';
    ++k;
  }
  int64_t value = 0;
  for (; k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])); ++k) {
    if (value < INT64_C(1) << 40) {
      value = value * 10 + (text[k] - '0');
    }
  }
  return negative ? -value : value;
}

uint32_t PortNumberOfName(const std::string& portName) {
  const int64_t number = portName.size() > 3 ? ParseDecimal(portName.substr(3)) : 0;
  return number > 0 && number <= UINT32_MAX ? static_cast<uint32_t>(number) : 0;
}

std::string PortNameKey(const std::string& portName) {
  const std::string prefix = "\\\\.\\";
  const std::string name =
      portName.rfind(prefix, 0) == 0 ? portName.substr(prefix.size()) : portName;
  const bool com = name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                   std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                   std::toupper(static_cast<unsigned char>(name[2])) == 'M';
  const uint32_t number = com ? PortNumberOfName(name) : 0;
  return number != 0 ? "COM" + std::to_string(number) : portName;
}

}  // namespace tarvok
