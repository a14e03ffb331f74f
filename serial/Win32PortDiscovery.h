// The COM ports Windows has registered: the values under
// HKEY_LOCAL_MACHINE\Hardware\DeviceMap\SerialComm, whose data are the port names.
#pragma once

#include <windows.h>

#include <vector>

#include "serial/PortDiscovery.h"

namespace tarvok {

inline constexpr const wchar_t* kSerialCommKey = L"Hardware\\DeviceMap\\SerialComm";

// The ports named by the values of `keyPath` under `root`, in the registry's order (not
// sorted). A value whose name or data does not fit the buffers is passed over; a key that
// cannot be opened gives no ports.
std::vector<PortInfo> DiscoverRegisteredPorts(HKEY root, const wchar_t* keyPath);

}  // namespace tarvok
