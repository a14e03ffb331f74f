#include <windows.h>

#include "serial/Win32Text.h"
#include "station/records/UnitRecord.h"

namespace tarvok {

std::string HostName() {
  DWORD size = 0;
  GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0) {
    return {};
  }
  std::wstring name(size, L'\0');
  if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
    return {};
  }
  name.resize(size);
  return Utf8FromWide(name);
}

}  // namespace tarvok
