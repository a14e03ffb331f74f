#include <chrono>
#include <filesystem>
#include <thread>

#include "serial/PortDiscovery.h"
#include "station/core/StationSetup.h"

namespace tarvok {
namespace {

#ifdef _WIN32
// On Windows a port is there while the registry lists its COM name.
bool FindPort(const std::string& portName, std::string& devicePath) {
  const uint32_t number = PortNumberOfName(PortNameKey(portName));
  for (const PortInfo& port : DiscoverSerialPorts()) {
    if (number != 0 && port.number == number) {
      devicePath = port.device;
      return true;
    }
  }
  return false;
}
#else
// On Linux a port is there while its device is (a COM name through the discovery's numbering).
bool FindPort(const std::string& portName, std::string& devicePath) {
  const bool isPath = portName.find('/') != std::string::npos;
  const std::string device = isPath ? portName : DevicePathForPortName(portName);
  std::error_code error;
  if (device.empty() || !std::filesystem::exists(device, error)) {
    return false;
  }
  devicePath = device;
  return true;
}
#endif

}  // namespace

StationWorld RealStationWorld() {
  StationWorld world;
  world.open = OpenSerialDevice;
  world.findPort = FindPort;
  world.sleep = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  world.nowMs = [] {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  };
  world.adapterSerial = [](const std::string& devicePath) {
    for (const PortInfo& port : DiscoverSerialPorts()) {
      if (port.device == devicePath) {
        return port.usbSerial;
      }
    }
    return std::string();
  };
  return world;
}

}  // namespace tarvok
