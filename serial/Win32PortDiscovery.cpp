// The Windows ports: the registry's list of COM ports.
#include "serial/Win32PortDiscovery.h"

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

}  // namespace

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
    ports.push_back(PortInfo{PortNumberOfName(utf8Name), DeviceOfName(utf8Name),
                             Utf8FromWide(std::wstring(name, nameChars))});
  }
  return ports;
}

std::vector<PortInfo> DiscoverSerialPorts() {
  return DiscoverRegisteredPorts(HKEY_LOCAL_MACHINE, kSerialCommKey);
}

// The name alone gives the device, whatever the registry lists now: a port that has left it
// since the list was shown (an adapter pulled out) is still opened, and named, as \\.\COM5.
std::string DevicePathForPortName(const std::string& portName) {
  return PortNumberOfName(portName) != 0 ? DeviceOfName(portName) : std::string();
}

}  // namespace tarvok
