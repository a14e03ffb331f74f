#include "cli/PortsCommand.h"

#include <ostream>

namespace tarvok::cli {

std::string PortLine(const PortInfo& port) {
  std::string line = "COM" + std::to_string(port.number) + "\t" + port.device;
  if (!port.description.empty()) {
    line += "\t" + port.description;
  }
  if (port.latencyTimerMs >= 0) {
    line += "\tlatency timer " + std::to_string(port.latencyTimerMs) + " ms";
  }
  if (!port.usbSerial.empty()) {
    line += "\tserial " + port.usbSerial;
  }
  return line;
}

int ListPorts(const std::vector<PortInfo>& ports, std::ostream& out) {
  if (ports.empty()) {
    out << "No serial ports found.\n";
  }
  for (const PortInfo& port : ports) {
    out << PortLine(port) << "\n";
  }
  return 0;
}

int RunPortsCommand(std::ostream& out) {
  return ListPorts(DiscoverSerialPorts(), out);
}

}  // namespace tarvok::cli
