// `tarvok ports`: the serial ports, one a line, with their COM numbers, devices and what the
// system knows of each (a USB adapter's vendor and product, latency timer and serial number).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "serial/PortDiscovery.h"

namespace tarvok::cli {

// One port's line, its fields separated by tabs, the COM name first: "COM101\t/dev/ttyUSB0\t
// USB 0403:6001 FT232R USB UART\tlatency timer 16 ms\tserial FT12345". A field the system
// does not know is left out.
std::string PortLine(const PortInfo& port);

// Lists `ports`, or says there are none; the command's exit status (0).
int ListPorts(const std::vector<PortInfo>& ports, std::ostream& out);

// Lists this machine's ports.
int RunPortsCommand(std::ostream& out);

}  // namespace tarvok::cli
