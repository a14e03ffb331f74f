#include "app/PortSetup.h"

#include "serial/PortDiscovery.h"
#include "serial/SerialPort.h"

namespace tarvok {

constexpr uint32_t kQueueBytes = 8192;
constexpr uint32_t kFlagWordClearMask = 0x636E;
constexpr uint32_t kFlagWordSet = 0x1010;  // DTR and RTS raised and held

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
    add("parity", WordOf(kParityOptions, static_cast<Parity>(asked.parity)),
        WordOf(kParityOptions, static_cast<Parity>(actual.parity)));
  }
  if (actual.stopBits != asked.stopBits) {
    add("stop bits", WordOf(kStopBitsOptions, static_cast<StopBits>(asked.stopBits)),
        WordOf(kStopBitsOptions, static_cast<StopBits>(actual.stopBits)));
  }
  return text.empty() ? text : "the device did not take " + text;
}

std::string DevicePathForChoice(const std::string& portName) {
  const std::string device = DevicePathForPortName(portName);
  return device.empty() ? portName : device;
}

namespace {

// Reads return at once with what is waiting, else wait up to 10 ms a byte plus 500 ms; writes
// give up after 10 ms a byte plus 500 ms.
void ConfigureForBurn(SerialDevice& device, const BurnLine& line, PortState& state) {
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
  settings.baudRate = line.romRate;
  settings.byteSize = static_cast<uint8_t>(line.dataBits);
  settings.parity = static_cast<uint8_t>(line.parity);
  settings.stopBits = static_cast<uint8_t>(line.stopBits);
  settings.flags = (settings.flags & ~kFlagWordClearMask) | kFlagWordSet;
  device.SetLineSettings(settings);
  LineSettings actual;
  state.refusedSettings =
      device.ReadBackLineSettings(actual) ? DescribeRefusedSettings(settings, actual) : "";
  device.ClearBreak();
  device.Purge(kPurgeAll);
}

}  // namespace

void OpenSelectedPort(const std::string& devicePath, const BurnLine& line, PortState& state,
                      const DeviceOpener& open) {
  CloseSelectedPort(state);
  OpenResult opened = open(devicePath);
  state.portHandle = std::move(opened.device);
  if (!state.portHandle) {
    state.openFailure = "Open" + devicePath + " Failed!";
    state.openFailureReason = opened.reason;
    return;
  }
  state.openFailure.clear();
  state.openFailureReason.clear();
  // A setting the driver refuses leaves the port with what it then has.
  ConfigureForBurn(*state.portHandle, line, state);
  state.portOpen = 1;
}

void CloseSelectedPort(PortState& state) {
  if (state.portOpen == 0) {
    return;
  }
  state.portOpen = 0;
  DrainAndPurge(*state.portHandle);
  state.portHandle->Close();
  state.portHandle.reset();
}

}  // namespace tarvok
