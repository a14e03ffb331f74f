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

TEST(Win32PortDiscovery, MissingKeyGivesNoPorts) {
  EXPECT_TRUE(
      DiscoverRegisteredPorts(HKEY_CURRENT_USER, L"Software\\TarvokTest\\NoSuchKey").empty());
}

}  // namespace
}  // namespace tarvok
