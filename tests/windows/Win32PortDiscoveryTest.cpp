// The registry walk of port discovery, against Wine's (or Windows') real registry: a key of
// our own under HKEY_CURRENT_USER stands in for SerialComm.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "serial/Win32PortDiscovery.h"

namespace tarvok {
namespace {

class RegistryKey {
 public:
  RegistryKey() {
    path_ = L"Software\\TarvokTest\\SerialComm" + std::to_wstring(GetCurrentProcessId());
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
  }
  ~RegistryKey() {
    RegCloseKey(key_);
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // `bytes` overrides the data size (to leave out the terminator); 0 keeps it whole.
  void Set(const std::wstring& name, const std::wstring& data, DWORD bytes = 0) {
    const DWORD whole = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(
        RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       bytes != 0 ? bytes : whole),
        ERROR_SUCCESS);
  }
  const wchar_t* Path() const { return path_.c_str(); }

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
};

struct Expected {
  uint32_t number;
  std::string device;
  std::string valueName;
};

TEST(Win32PortDiscovery, WalksTheValuesInRegistryOrder) {
  RegistryKey key;
  // The names sort as they are made, so that Wine (which keeps values sorted by name) and
  // Windows (which keeps them as made) walk them alike; the numbers are not in order.
  key.Set(L"P1", L"COM3");
  key.Set(L"P2", L"COM12");
  key.Set(L"P3", L"COM4");
  key.Set(L"P4", std::wstring(60, L'9'));             // 122 bytes: does not fit, walk goes on
  key.Set(L"P5" + std::wstring(120, L'N'), L"COM9");  // a name over 100 characters: likewise
  key.Set(L"P6", L"VCOM2");
  key.Set(L"P7", L"USB7");
  key.Set(L"P8", L"COM256");  // kept whole, not cut to 8 bits
  key.Set(L"P9", L"CO");
  key.Set(L"Q1", L"COM5x", 4 * sizeof(wchar_t));  // no terminator: "COM5"

  const std::vector<Expected> expected = {
      {3, "\\\\.\\COM3", "P1"},  {12, "\\\\.\\COM12", "P2"}, {4, "\\\\.\\COM4", "P3"},
      {0, "\\\\.\\VCOM2", "P6"}, {7, "\\\\.\\USB7", "P7"},   {256, "\\\\.\\COM256", "P8"},
      {0, "\\\\.\\CO", "P9"},    {5, "\\\\.\\COM5", "Q1"},
  };
  const std::vector<PortInfo> ports = DiscoverRegisteredPorts(HKEY_CURRENT_USER, key.Path());
  ASSERT_EQ(ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].device);
    EXPECT_EQ(ports[i].number, expected[i].number);
    EXPECT_EQ(ports[i].device, expected[i].device);
    EXPECT_EQ(ports[i].description, expected[i].valueName);
  }
}

// A stand-in for FTDI's Enum\FTDIBUS tree: device keys, each with an instance key holding
// "Device Parameters".
class FtdiBusTree {
 public:
  FtdiBusTree()
      : path_(L"Software\\TarvokTest\\FTDIBUS" + std::to_wstring(GetCurrentProcessId())) {}
  ~FtdiBusTree() { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }
  FtdiBusTree(const FtdiBusTree&) = delete;
  FtdiBusTree& operator=(const FtdiBusTree&) = delete;

  // A port `portName` of the device `deviceKey`; a `timerMs` below 0 leaves LatencyTimer out.
  void AddPort(const std::wstring& deviceKey, const std::wstring& portName, int timerMs) {
    const std::wstring path = path_ + L"\\" + deviceKey + L"\\0000\\Device Parameters";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                   static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
    if (timerMs >= 0) {
      const DWORD timer = static_cast<DWORD>(timerMs);
      RegSetValueExW(key, L"LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timer),
                     sizeof(timer));
    }
    RegCloseKey(key);
  }
  const wchar_t* Path() const { return path_.c_str(); }

 private:
  std::wstring path_;
};

TEST(Win32PortDiscovery, FtdiAdaptersGiveTimerAndSerialNumber) {
  FtdiBusTree bus;
  bus.AddPort(L"VID_0403+PID_6001+FT12345A", L"com3", 16);  // port names ignore case
  bus.AddPort(L"VID_0403+PID_6010+FT99B", L"COM4", -1);     // second channel, no timer
  bus.AddPort(L"VID_0403+PID_6001+6&2F6A1B0&0&1", L"COM12", 2);
  bus.AddPort(L"VID_0403+PID_6015+DN0X1A", L"COM9", 1);  // not registered now
  std::vector<PortInfo> ports(3);
  ports[0].device = "\\\\.\\COM3";
  ports[1].device = "\\\\.\\COM4";
  ports[2].device = "\\\\.\\COM12";
  AddFtdiAdapterDetails(HKEY_CURRENT_USER, bus.Path(), ports);
  EXPECT_EQ(ports[0].latencyTimerMs, 16);
  EXPECT_EQ(ports[0].usbSerial, "FT12345");
  EXPECT_EQ(ports[1].latencyTimerMs, -1);
  EXPECT_EQ(ports[1].usbSerial, "FT99");
  EXPECT_EQ(ports[2].latencyTimerMs, 2);
  EXPECT_EQ(ports[2].usbSerial, "");  // a device without a serial number

  const struct {
    const char* key;
    const char* serial;
  } keys[] = {{"VID_0403+PID_6001+A12345BCA", "A12345BC"},
              {"VID_0403+PID_6011+FT4XYZD", "FT4XYZ"},
              {"VID_0403+PID_6001+FT1E", ""},  // no channel letter
              {"VID_0403+PID_6001+A", ""},
              {"VID_0403+PID_6001", ""},
              {"", ""}};
  for (const auto& k : keys) {
    EXPECT_EQ(SerialOfFtdiDeviceKey(k.key), k.serial) << k.key;
  }
}

TEST(Win32PortDiscovery, MissingKeyGivesNoPorts) {
  EXPECT_TRUE(
      DiscoverRegisteredPorts(HKEY_CURRENT_USER, L"Software\\TarvokTest\\NoSuchKey").empty());
}

}  // namespace
}  // namespace tarvok
