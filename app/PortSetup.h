// Turns the user's port choices into an open, configured port for a burn, and closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/PortChoices.h"
#include "serial/OpenDevice.h"
#include "serial/ProcessPort.h"
#include "serial/SerialDevice.h"

namespace tarvok {

// The port as the dialog holds it during a run.
struct PortState {
  std::unique_ptr<SerialDevice> portHandle;
  uint8_t portOpen = 0;
  std::string openFailure;  // why the last open failed, for people
  // The settings the device did not take, for people; empty when it took them all.
  std::string refusedSettings;
  // The chosen burn rate's position in the rate list plus one (1-4); 0 keeps the port's rate.
  int32_t burnRateIndex = 0;
};

inline constexpr uint32_t kQueueBytes = 8192;
inline constexpr uint32_t kFlagWordClearMask = 0x636E;
inline constexpr uint32_t kFlagWordSet = 0x1010;  // DTR and RTS raised and held

uint8_t ParityFromText(const std::string& text);
uint8_t StopBitsFromText(const std::string& text);
// "the device did not take parity odd (it uses none), ..." or empty when `actual` matches.
std::string DescribeRefusedSettings(const LineSettings& asked, const LineSettings& actual);
// The device a port-list text stands for: the discovered device of "COM<n>", else the text.
std::string DevicePathForChoice(const std::string& portText);

using DeviceOpener = std::function<OpenResult(const std::string& devicePath)>;

// Closes a port still open, then opens and configures the chosen one; `state.portOpen`
// tells the outcome. A device that cannot be opened is reported by a message box.
void OpenSelectedPort(PortChoices& choices, PortState& state,
                      const DeviceOpener& open = OpenSerialDevice);
void CloseSelectedPort(PortState& state);

}  // namespace tarvok
