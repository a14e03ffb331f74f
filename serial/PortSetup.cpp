#include "serial/PortSetup.h"

#include <algorithm>

#include "serial/PortDiscovery.h"

namespace tarvok {

uint8_t ParityFromText(const std::string& text) {
  if (text == "NOPARITY")
    return kNoParity;
  if (text == "ODDPARITY")
    return kOddParity;
  if (text == "EVENPARITY")
    return kEvenParity;
  if (text == "MARKPARITY")
    return kMarkParity;
  return kSpaceParity;
}

uint8_t StopBitsFromText(const std::string& text) {
  if (text == "ONESTOPBIT")
    return kOneStopBit;
  if (text == "ONE5STOPBITS")
    return kOne5StopBits;
  return kTwoStopBits;
}

std::string DevicePathForChoice(const std::string& portText) {
  const std::string device = DevicePathForPortName(portText);
  return device.empty() ? portText : device;
}

namespace {

uint32_t ClampedDecimal(const std::string& text, uint32_t highest) {
  const int64_t value = ParseDecimal(text);
  return static_cast<uint32_t>(std::clamp<int64_t>(value, 0, highest));
}

}  // namespace

void OpenSelectedPort(PortChoices& choices, PortState& state, const DeviceOpener& open) {
  CloseSelectedPort(state);
  if (choices.SelectedIndex(kPortListId) <= 0) {
    return;  // the empty first entry: no port chosen
  }
  const std::string path = DevicePathForChoice(choices.SelectedText(kPortListId));
  OpenResult opened = open(path);
  state.portHandle = std::move(opened.device);
  if (!state.portHandle) {
    state.openFailure = opened.reason;
    choices.ShowMessage("Open" + path + " Failed!");
    return;
  }
  state.openFailure.clear();
  SerialDevice& device = *state.portHandle;

  // Once the device is open the port counts as open: a setting the driver refuses leaves
  // the port with what it then has.
  CommStatus status;
  device.ClearError(status);
  device.SetQueueSizes(kQueueBytes, kQueueBytes);
  Timeouts timeouts;
  timeouts.readInterval = UINT32_MAX;
  timeouts.readTotalMultiplier = 10;
  timeouts.readTotalConstant = 500;
  timeouts.writeTotalMultiplier = 10;
  timeouts.writeTotalConstant = 500;
  device.SetTimeouts(timeouts);
  LineSettings settings;  // used as it is when the current state cannot be read
  device.GetLineSettings(settings);
  settings.baudRate = ClampedDecimal(choices.SelectedText(kOriginalRateListId), UINT32_MAX);
  settings.byteSize =
      static_cast<uint8_t>(ClampedDecimal(choices.SelectedText(kDataBitsListId), 255));
  settings.parity = ParityFromText(choices.SelectedText(kParityListId));
  settings.stopBits = StopBitsFromText(choices.SelectedText(kStopBitsListId));
  settings.flags = (settings.flags & ~kFlagWordClearMask) | kFlagWordSet;
  device.SetLineSettings(settings);
  device.ClearBreak();
  device.Purge(kPurgeAll);

  burnPortHandle = state.portHandle.get();
  burnRateIndex = choices.SelectedIndex(kBurnRateListId) + 1;
  state.portOpen = 1;
}

void CloseSelectedPort(PortState& state) {
  if (state.portOpen == 0) {
    return;
  }
  state.portOpen = 0;
  state.portHandle->Purge(kPurgeRxAbort | kPurgeRxClear);
  state.portHandle->Close();
  state.portHandle.reset();
  burnPortHandle = nullptr;
}

}  // namespace tarvok
