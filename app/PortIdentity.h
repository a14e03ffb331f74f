// A port as people name it (a device path, or a COM name from `tarvok ports`) and the device
// behind it, so that one port given under two spellings is told as one.
#pragma once

#include <string>

namespace tarvok {

// "COM5" or "com5": a port's name as Windows and `tarvok ports` give it.
bool IsComName(const std::string& name);
// The device a port's name names, or empty when it names none: a COM name's device, or a path.
std::string ResolvePort(const std::string& name);
// The device itself, to tell one port given twice (through links; on Windows whatever the case).
std::string DeviceIdentity(const std::string& device);

}  // namespace tarvok
