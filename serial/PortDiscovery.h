// Finds the machine's serial ports and gives each a stable number, so that a port can be
// shown as "COM" + number and the number turned back into the device to open.
//
// Numbers on Linux: ttyS<n> is n + 1 (ttyS0 is COM1, as on a PC), ttyUSB<n> is 101 + n,
// ttyACM<n> 201 + n, ttyAMA<n> 301 + n, other ports with hardware behind them 401 and up in
// name order, and the devices listed in TARVOK_EXTRA_PORTS (colon-separated paths, such as
// a simulated chip's pseudo-terminal) 1001 and up in their order there.
//
// Numbers on Windows: the number of the registered name (COM5 is 5, kept whole above 255);
// the device is "\\.\" followed by that name. TARVOK_EXTRA_PORTS (such as network ports:
// rfc2217://HOST:PORT) is numbered from 1001 there too.
//
// A USB serial adapter's latency timer is how long it holds back a part-filled packet of
// received bytes before it sends it to the host; every reply the burn waits for waits that
// long too, so 16 ms (the usual default) costs about a third of the image stage's speed
// against 1 ms. Linux shows it as the usb-serial device's `latency_timer` in sysfs (FTDI
// adapters), Windows in the FTDI driver's registry key (`LatencyTimer`); other adapters have
// none to show.
//
// Each platform's enumeration, and the device it gives a port name, lives in its own file
// (LinuxPortDiscovery.cpp, Win32PortDiscovery.cpp); the numbering of names here is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

struct PortInfo {
  uint32_t number = 0;
  std::string device;       // path to open, such as /dev/ttyUSB0
  std::string description;  // what the system knows of it (USB vendor, product), may be empty
  int latencyTimerMs = -1;  // the USB adapter's latency timer; -1 when the system shows none
  std::string usbSerial;    // the USB adapter's serial number, empty when unknown
};

// The number of the first port named in TARVOK_EXTRA_PORTS.
inline constexpr uint32_t kFirstExtraPort = 1001;

// The entries of `extraPorts` (TARVOK_EXTRA_PORTS: paths and network ports' names, separated
// by ':'), numbered from kFirstExtraPort on, added after `ports`.
void AddExtraPorts(const std::string& extraPorts, std::vector<PortInfo>& ports);
// TARVOK_EXTRA_PORTS from the environment, empty when it is not set.
std::string ExtraPortsOfEnvironment();

#ifndef _WIN32
// Ports under `sysfsRoot` (normally /sys) plus those in `extraPorts`, by number.
std::vector<PortInfo> DiscoverSerialPorts(const std::string& sysfsRoot,
                                          const std::string& extraPorts);
#endif
// The ports of this machine (on Linux with TARVOK_EXTRA_PORTS from the environment).
std::vector<PortInfo> DiscoverSerialPorts();

#ifndef _WIN32
// Sets the port's adapter latency timer under `sysfsRoot` to 1 ms. Only root (or a udev rule)
// may write it; false with the reason in `problem` when it was not set.
bool TryLowerLatencyTimer(const std::string& sysfsRoot, const PortInfo& port, std::string& problem);
#endif
// Sets the port's adapter latency timer to 1 ms where the system allows a program to, without
// a driver's dialog: on Linux through /sys; on Windows never (it is the driver's setting, set
// in Device Manager). False with the reason in `problem` when it was not set.
bool TryLowerLatencyTimer(const PortInfo& port, std::string& problem);

// Fills `portNumbers` with the numbers of the ports found, in order; `portCount` says how many.
void EnumSerialPorts(std::vector<uint32_t>& portNumbers, int32_t& portCount);

// The number a port name stands for: its fourth and later characters as a decimal number
// ("COM12" gives 12, "VCOM2" 0, "USB7" 7).
uint32_t PortNumberOfName(const std::string& portName);
// How a port is known whatever the spelling of its name. Windows names a COM port without
// regard to case, with or without the \\.\ prefix: com5, COM5 and \\.\COM5 all give
// "COM5". Any other name (a device path, which may be a stable link such as
// /dev/serial/by-id/...) stays as given.
std::string PortNameKey(const std::string& portName);
// The device behind a port name such as "COM101". On Linux the one discovery numbers so, or
// empty when there is none; on Windows "\\.\" + the name whether or not the registry lists
// it now, and empty only for a name without a number.
std::string DevicePathForPortName(const std::string& portName);

// A decimal number as the C library's atoi reads it: optional leading white space and sign,
// digits up to the first other character; no digits give 0.
int64_t ParseDecimal(const std::string& text);

}  // namespace tarvok
