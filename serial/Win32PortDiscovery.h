// The COM ports Windows has registered: the values under
// HKEY_LOCAL_MACHINE\Hardware\DeviceMap\SerialComm, whose data are the port names. FTDI's
// driver adds what it knows of its adapters: under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS each adapter's device key, named
// "VID_0403+PID_6001+" followed by its serial number and its channel letter (A for the first
// or only one), holds instance keys ("0000") whose "Device Parameters" give the port's name
// (`PortName`) and its latency timer in ms (`LatencyTimer`).
#pragma once

#include <windows.h>

#include <vector>

#include "serial/PortDiscovery.h"

namespace tarvok {

inline constexpr const wchar_t* kSerialCommKey = L"Hardware\\DeviceMap\\SerialComm";
inline constexpr const wchar_t* kFtdiBusKey = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

// The ports named by the values of `keyPath` under `root`, in the registry's order (not
// sorted). A value whose name or data does not fit the buffers is passed over; a key that
// cannot be opened gives no ports.
std::vector<PortInfo> DiscoverRegisteredPorts(HKEY root, const wchar_t* keyPath);

// Gives the ports that FTDI's device keys under `keyPath` name (by `PortName`, in any case)
// their latency timer and USB serial number. A key that cannot be read leaves them unknown.
void AddFtdiAdapterDetails(HKEY root, const wchar_t* keyPath, std::vector<PortInfo>& ports);

// The USB serial number in an FTDI device key's name ("VID_0403+PID_6001+FT12345A" gives
// "FT12345"); empty when the name holds none.
std::string SerialOfFtdiDeviceKey(const std::string& keyName);

}  // namespace tarvok
