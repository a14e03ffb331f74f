// Opens and configures the port of one burn from its typed line settings, and closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "burn/BurnRequest.h"
#include "serial/OpenDevice.h"
#include "serial/SerialDevice.h"

namespace tarvok {

// The port as one burn holds it.
struct PortState {
  std::unique_ptr<SerialDevice> portHandle;
  uint8_t portOpen = 0;
  std::string openFailure;        // "Open<device> Failed!" after a failed open
  std::string openFailureReason;  // why the last open failed, for people
  // The settings the device did not take, for people; empty when it took them all.
  std::string refusedSettings;
};

// "the device did not take parity odd (it uses none), ..." or empty when `actual` matches.
std::string DescribeRefusedSettings(const LineSettings& asked, const LineSettings& actual);
// The device a port name stands for: the discovered device of "COM<n>", else the name itself.
std::string DevicePathForChoice(const std::string& portName);

using DeviceOpener = std::function<OpenResult(const std::string& devicePath)>;

// Closes a port still open, then opens `devicePath` and configures it at the boot ROM's rate
// with `line`'s data bits, parity and stop bits; `state.portOpen` tells the outcome. Once the
// device has opened the port counts as open, even when the driver refused a setting.
void OpenSelectedPort(const std::string& devicePath, const BurnLine& line, PortState& state,
                      const DeviceOpener& open = OpenSerialDevice);
void CloseSelectedPort(PortState& state);

}  // namespace tarvok
