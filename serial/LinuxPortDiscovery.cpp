// The Linux ports: sysfs tty devices with hardware behind them, plus TARVOK_EXTRA_PORTS.
#include "serial/PortDiscovery.h"

#include "serial/NetworkPortName.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarvok {
namespace fs = std::filesystem;
namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// "ttyUSB3" with prefix "ttyUSB": 3; -1 when the rest is not a number.
int64_t IndexAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return -1;
  }
  const std::string rest = name.substr(prefix.size());
  if (!std::all_of(rest.begin(), rest.end(), [](unsigned char c) { return std::isdigit(c); }) ||
      rest.size() > 6) {
    return -1;
  }
  return std::stoll(rest);
}

// USB vendor, product, names and serial number, from the first parent of the device that
// has them.
void DescribeUsbDevice(const fs::path& deviceLink, PortInfo& info) {
  std::error_code error;
  fs::path dir = fs::canonical(deviceLink, error);
  if (error) {
    return;
  }
  for (int level = 0; level < 4 && !dir.empty(); ++level, dir = dir.parent_path()) {
    const std::string vendor = ReadLine(dir / "idVendor");
    if (vendor.empty()) {
      continue;
    }
    info.description = "USB " + vendor + ":" + ReadLine(dir / "idProduct");
    for (const char* field : {"manufacturer", "product"}) {
      const std::string value = ReadLine(dir / field);
      if (!value.empty()) {
        info.description += " " + value;
      }
    }
    info.usbSerial = ReadLine(dir / "serial");
    return;
  }
}

// The usb-serial driver's attribute of a port (FTDI's ftdi_sio has `latency_timer`).
fs::path LatencyTimerFile(const std::string& sysfsRoot, const std::string& ttyName) {
  return fs::path(sysfsRoot) / "bus" / "usb-serial" / "devices" / ttyName / "latency_timer";
}

// The timer in ms, or -1 when the port has none (or it says something else than a number).
int ReadLatencyTimer(const fs::path& file) {
  const std::string text = ReadLine(file);
  if (text.empty() || text.size() > 4 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return -1;
  }
  return std::stoi(text);
}

struct NumberingRule {
  const char* prefix;
  uint32_t first;
};
constexpr NumberingRule kRules[] = {{"ttyS", 1}, {"ttyUSB", 101}, {"ttyACM", 201}, {"ttyAMA", 301}};
constexpr uint32_t kFirstOtherPort = 401;

// The number of a tty by the rules for its name; 0 when no rule names it.
uint32_t NumberByRule(const std::string& name) {
  for (const NumberingRule& rule : kRules) {
    const int64_t index = IndexAfter(name, rule.prefix);
    if (index >= 0) {
      return rule.first + static_cast<uint32_t>(index);
    }
  }
  return 0;
}

// The hardware ttys under `sysfsRoot`, by number: those the rules name, then the others from
// 401 on in the order of their names.
void AddHardwarePorts(const std::string& sysfsRoot, std::map<uint32_t, PortInfo>& found) {
  std::error_code error;
  const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(classDir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  uint32_t nextOther = kFirstOtherPort;
  for (const std::string& name : names) {
    const fs::path entry = classDir / name;
    if (!fs::exists(entry / "device", error)) {
      continue;  // virtual terminals and pseudo-terminals have no hardware behind them
    }
    // A legacy 8250 port that was never detected reports the type 0 (unknown).
    if (name.rfind("ttyS", 0) == 0 && ReadLine(entry / "type") == "0") {
      continue;
    }
    PortInfo info;
    info.device = "/dev/" + name;
    DescribeUsbDevice(entry / "device", info);
    info.latencyTimerMs = ReadLatencyTimer(LatencyTimerFile(sysfsRoot, name));
    const uint32_t byRule = NumberByRule(name);
    info.number = byRule != 0 ? byRule : nextOther++;
    found.emplace(info.number, info);
  }
}

}  // namespace

std::vector<PortInfo> DiscoverSerialPorts(const std::string& sysfsRoot,
                                          const std::string& extraPorts) {
  std::map<uint32_t, PortInfo> found;
  AddHardwarePorts(sysfsRoot, found);
  std::vector<PortInfo> ports;
  for (auto& [number, info] : found) {
    ports.push_back(std::move(info));
  }
  AddExtraPorts(extraPorts, ports);
  return ports;
}

std::vector<PortInfo> DiscoverSerialPorts() {
  return DiscoverSerialPorts("/sys", ExtraPortsOfEnvironment());
}

bool TryLowerLatencyTimer(const std::string& sysfsRoot, const PortInfo& port,
                          std::string& problem) {
  const fs::path file = LatencyTimerFile(sysfsRoot, fs::path(port.device).filename().string());
  if (port.latencyTimerMs < 0 || ReadLatencyTimer(file) < 0) {
    problem = "the adapter has no latency timer to set";
    return false;
  }
  // As `echo 1 > latency_timer` does: sysfs takes the truncation as a no-op.
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    problem = "cannot open " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, "1\n", 2) == 2;
  const int writeError = errno;
  ::close(fd);
  if (!written) {
    problem = "cannot write " + file.string() + ": " + std::strerror(writeError);
    return false;
  }
  // The driver may refuse the value or keep its own: what counts is what it reads back.
  if (const int now = ReadLatencyTimer(file); now != 1) {
    problem = file.string() + " reads " + std::to_string(now) + " after writing 1";
    return false;
  }
  return true;
}

bool TryLowerLatencyTimer(const PortInfo& port, std::string& problem) {
  return TryLowerLatencyTimer("/sys", port, problem);
}

// A COM number stands for whatever device discovery gives it now. A network port's name is its
// own device.
std::string DevicePathForPortName(const std::string& portName) {
  if (HasNetworkScheme(portName)) {
    return portName;
  }
  const uint32_t number = PortNumberOfName(portName);
  for (const PortInfo& port : DiscoverSerialPorts()) {
    if (port.number == number) {
      return port.device;
    }
  }
  return {};
}

}  // namespace tarvok
