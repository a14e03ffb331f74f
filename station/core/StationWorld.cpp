#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "serial/NetworkPortName.h"
#include "serial/PortDiscovery.h"
#include "station/core/StationSetup.h"

namespace tarvok {
namespace {

#ifdef _WIN32
// On Windows a port is there while the registry lists its COM name; a network port always is.
bool FindPort(const std::string& portName, std::string& devicePath) {
  if (const std::string device = DevicePathForPortName(portName); HasNetworkScheme(device)) {
    devicePath = device;
    return true;
  }
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
// A network port is always there: each burn connects anew, and a server that is not there
// fails the open with its reason.
bool FindPort(const std::string& portName, std::string& devicePath) {
  const bool isPath = portName.find('/') != std::string::npos;
  const std::string device = isPath ? portName : DevicePathForPortName(portName);
  if (HasNetworkScheme(device)) {
    devicePath = device;
    return true;
  }
  std::error_code error;
  if (device.empty() || !std::filesystem::exists(device, error)) {
    return false;
  }
  devicePath = device;
  return true;
}

std::string FirstLineOf(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Where the path leads and the device node there, and for a USB adapter its place and number
// on its bus, which the adapter gets anew each time it is plugged in; for any other device
// (a pseudo-terminal) when its node was made, as a new one under a number just freed has
// another. Empty when it cannot be told.
std::string DeviceIdentity(const std::string& devicePath) {
  namespace fs = std::filesystem;
  if (HasNetworkScheme(devicePath)) {
    return devicePath;  // the server's port stays the same device, connection after connection
  }
  std::error_code error;
  const fs::path target = fs::canonical(devicePath, error);
  struct stat node {};
  if (error || ::stat(target.c_str(), &node) != 0) {
    return "";
  }
  std::string identity = target.string() + " " + std::to_string(node.st_rdev);
  fs::path device = fs::canonical(fs::path("/sys/class/tty") / target.filename() / "device", error);
  for (int up = 0; !error && up < 4 && device.has_relative_path(); ++up) {
    const std::string bus = FirstLineOf(device / "busnum");
    const std::string number = FirstLineOf(device / "devnum");
    if (!bus.empty() && !number.empty()) {
      return identity + " " + device.filename().string() + " " + bus + "-" + number;
    }
    device = device.parent_path();
  }
  if (!error) {
    return "";  // a device on a bus whose numbers cannot be read now
  }
  return identity + " made " + std::to_string(node.st_ctim.tv_sec) + "." +
         std::to_string(node.st_ctim.tv_nsec);
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
#ifdef _WIN32
  // A COM name stays with its device: only a USB adapter's serial number tells one adapter
  // from another one given the same name.
  world.deviceIdentity = world.adapterSerial;
#else
  world.deviceIdentity = DeviceIdentity;
#endif
  return world;
}

}  // namespace tarvok
