// The Windows ports: the registry's list of COM ports, with what FTDI's driver records of its
// adapters.
#include "serial/Win32PortDiscovery.h"

#include <algorithm>
#include <cwctype>

#include "serial/NetworkPortName.h"
#include "serial/Win32Text.h"

namespace tarvok {
namespace {

constexpr DWORD kNameChars = 100;
constexpr DWORD kDataBytes = 100;

// Windows opens a COM port through the device namespace under the port's own name.
std::string DeviceOfName(const std::string& portName) {
  return "\\\\.\\" + portName;
}

struct KeyCloser {
  HKEY key;
  ~KeyCloser() { RegCloseKey(key); }
};

constexpr DWORD kKeyNameChars = 256;  // the registry's limit for a key's name

// The names of the subkeys of `key`, in the registry's order.
std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kKeyNameChars] = {};
    DWORD nameChars = kKeyNameChars;
    if (RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, nameChars);
  }
}

bool SameNameIgnoringCase(std::wstring a, std::wstring b) {
  const auto upper = [](std::wstring& text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  };
  upper(a);
  upper(b);
  return a == b;
}

// One FTDI port's "Device Parameters": its name, timer and the device key's serial number.
void AddFtdiPortDetails(HKEY parameters, const std::string& serial, std::vector<PortInfo>& ports) {
  wchar_t portName[kNameChars] = {};
  DWORD nameBytes = sizeof(portName);
  if (RegGetValueW(parameters, nullptr, L"PortName", RRF_RT_REG_SZ, nullptr, portName,
                   &nameBytes) != ERROR_SUCCESS) {
    return;
  }
  DWORD timer = 0;
  DWORD timerBytes = sizeof(timer);
  const bool timerKnown = RegGetValueW(parameters, nullptr, L"LatencyTimer", RRF_RT_REG_DWORD,
                                       nullptr, &timer, &timerBytes) == ERROR_SUCCESS &&
                          timer <= 255;
  const std::wstring device = WideFromUtf8(DeviceOfName(Utf8FromWide(portName)));
  for (PortInfo& port : ports) {
    if (SameNameIgnoringCase(WideFromUtf8(port.device), device)) {
      port.latencyTimerMs = timerKnown ? static_cast<int>(timer) : -1;
      port.usbSerial = serial;
    }
  }
}

}  // namespace

std::string SerialOfFtdiDeviceKey(const std::string& keyName) {
  const std::size_t plus = keyName.rfind('+');
  if (plus == std::string::npos) {
    return {};
  }
  const std::string last = keyName.substr(plus + 1);
  // The serial number followed by one channel letter, A to D; anything else (an instance
  // path of a device without a serial number, with '&' in it) holds none.
  if (last.size() < 2 || last.back() < 'A' || last.back() > 'D' ||
      last.find('&') != std::string::npos) {
    return {};
  }
  return last.substr(0, last.size() - 1);
}

void AddFtdiAdapterDetails(HKEY root, const wchar_t* keyPath, std::vector<PortInfo>& ports) {
  HKEY bus = nullptr;
  if (RegOpenKeyExW(root, keyPath, 0, KEY_READ, &bus) != ERROR_SUCCESS) {
    return;
  }
  const KeyCloser busCloser{bus};
  for (const std::wstring& deviceName : SubkeyNames(bus)) {
    HKEY device = nullptr;
    if (RegOpenKeyExW(bus, deviceName.c_str(), 0, KEY_READ, &device) != ERROR_SUCCESS) {
      continue;
    }
    const KeyCloser deviceCloser{device};
    const std::string serial = SerialOfFtdiDeviceKey(Utf8FromWide(deviceName));
    for (const std::wstring& instance : SubkeyNames(device)) {
      HKEY parameters = nullptr;
      const std::wstring path = instance + L"\\Device Parameters";
      if (RegOpenKeyExW(device, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) {
        continue;
      }
      const KeyCloser parametersCloser{parameters};
      AddFtdiPortDetails(parameters, serial, ports);
    }
  }
}

std::vector<PortInfo> DiscoverRegisteredPorts(HKEY root, const wchar_t* keyPath) {
  std::vector<PortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return ports;
  }
  const KeyCloser closer{key};
  for (DWORD index = 0;; ++index) {
    wchar_t name[kNameChars] = {};
    wchar_t data[kDataBytes / sizeof(wchar_t)] = {};
    // Both sizes go in afresh for every value: each call writes back what it used.
    DWORD nameChars = kNameChars;
    DWORD dataBytes = kDataBytes;
    DWORD type = 0;
    const LSTATUS result = RegEnumValueW(key, index, name, &nameChars, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &dataBytes);
    if (result == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (result == ERROR_MORE_DATA) {
      continue;  // a name or data too long for a port: the walk goes on past it
    }
    if (result != ERROR_SUCCESS) {
      break;
    }
    // The data need not end in a terminator.
    std::wstring portName(data, dataBytes / sizeof(wchar_t));
    portName.resize(portName.find(L'\0') == std::wstring::npos ? portName.size()
                                                               : portName.find(L'\0'));
    const std::string utf8Name = Utf8FromWide(portName);
    PortInfo port;
    port.number = PortNumberOfName(utf8Name);
    port.device = DeviceOfName(utf8Name);
    port.description = Utf8FromWide(std::wstring(name, nameChars));
    ports.push_back(std::move(port));
  }
  return ports;
}

std::vector<PortInfo> DiscoverSerialPorts() {
  std::vector<PortInfo> ports = DiscoverRegisteredPorts(HKEY_LOCAL_MACHINE, kSerialCommKey);
  AddFtdiAdapterDetails(HKEY_LOCAL_MACHINE, kFtdiBusKey, ports);
  AddExtraPorts(ExtraPortsOfEnvironment(), ports);
  return ports;
}

// FTDI's timer is the driver's setting, read when the port opens: only its dialog (Device
// Manager) sets it.
bool TryLowerLatencyTimer(const PortInfo&, std::string& problem) {
  problem = "Windows keeps it in the FTDI driver's settings, set in Device Manager";
  return false;
}

// The name alone gives the device, whatever the registry lists now: a port that has left it
// since the list was shown (an adapter pulled out) is still opened, and named, as \\.\COM5.
// The numbers from kFirstExtraPort on are TARVOK_EXTRA_PORTS' entries, and a network port's
// name is its own device.
std::string DevicePathForPortName(const std::string& portName) {
  if (HasNetworkScheme(portName)) {
    return portName;
  }
  const uint32_t number = PortNumberOfName(portName);
  if (number >= kFirstExtraPort) {
    std::vector<PortInfo> extra;
    AddExtraPorts(ExtraPortsOfEnvironment(), extra);
    for (const PortInfo& port : extra) {
      if (port.number == number) {
        return port.device;
      }
    }
  }
  return number != 0 ? DeviceOfName(portName) : std::string();
}

}  // namespace tarvok
