#include "app/PortSetup.h"

#include <algorithm>

#include "serial/PortDiscovery.h"
#include "serial/SerialPort.h"

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

namespace {

std::string ParityName(uint8_t parity) {
  switch (parity) {
    case kNoParity:
      return "none";
    case kOddParity:
      return "odd";
    case kEvenParity:
      return "even";
    case kMarkParity:
      return "mark";
    default:
      return "space";
  }
}

std::string StopBitsName(uint8_t stopBits) {
  switch (stopBits) {
    case kOneStopBit:
      return "1";
    case kOne5StopBits:
      return "1.5";
    default:
      return "2";
  }
}

}  // namespace

std::string DescribeRefusedSettings(const LineSettings& asked, const LineSettings& actual) {
  std::string text;
  const auto add = [&text](const std::string& what, const std::string& wanted,
                           const std::string& got) {
    text += (text.empty() ? "" : ", ") + what + " " + wanted + " (it uses " + got + ")";
  };
  if (actual.baudRate != asked.baudRate) {
    add("rate", std::to_string(asked.baudRate), std::to_string(actual.baudRate));
  }
  if (actual.byteSize != asked.byteSize) {
    add("data bits", std::to_string(asked.byteSize), std::to_string(actual.byteSize));
  }
  if (actual.parity != asked.parity) {
    add("parity", ParityName(asked.parity), ParityName(actual.parity));
  }
  if (actual.stopBits != asked.stopBits) {
    add("stop bits", StopBitsName(asked.stopBits), StopBitsName(actual.stopBits));
  }
  return text.empty() ? text : "the device did not take " + text;
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
  LineSettings actual;
  state.refusedSettings =
      device.ReadBackLineSettings(actual) ? DescribeRefusedSettings(settings, actual) : "";
  device.ClearBreak();
  device.Purge(kPurgeAll);

  state.burnRateIndex = choices.SelectedIndex(kBurnRateListId) + 1;
  burnPortHandle = state.portHandle.get();
  burnRateIndex = state.burnRateIndex;
  state.portOpen = 1;
}

void CloseSelectedPort(PortState& state) {
  if (state.portOpen == 0) {
    return;
  }
  state.portOpen = 0;
  DrainAndPurge(*state.portHandle);
  state.portHandle->Close();
  // Another port's burn may still be running: clear the shared copy only if it is ours.
  SerialDevice* ours = state.portHandle.get();
  burnPortHandle.compare_exchange_strong(ours, nullptr);
  state.portHandle.reset();
}

}  // namespace tarvok
