// Turns the user's port choices into an open, configured port for a burn, and closes it.
// The choices are read by the IDs of the dialog's lists, through a small interface that the
// dialog, the command line and the tests each provide.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/OpenDevice.h"
#include "serial/ProcessPort.h"
#include "serial/SerialDevice.h"

namespace tarvok {

inline constexpr int kPortListId = 1000;          // "IMG COM:"
inline constexpr int kParityListId = 1001;        // "Parity:"
inline constexpr int kOriginalRateListId = 1002;  // "Original BaudRate:"
inline constexpr int kDataBitsListId = 1003;      // "DataBits:"
inline constexpr int kStopBitsListId = 1004;      // "StopBits:"
inline constexpr int kBurnRateListId = 1006;      // "Burn BaudRate:"

class PortChoices {
 public:
  virtual ~PortChoices() = default;
  // The selected position of a list, -1 when none is selected.
  virtual int32_t SelectedIndex(int controlId) const = 0;
  virtual std::string SelectedText(int controlId) const = 0;
  virtual void ShowMessage(const std::string& text) = 0;
};

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
