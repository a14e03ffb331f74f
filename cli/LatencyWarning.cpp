#include "cli/LatencyWarning.h"

#include "burn/BurnRequest.h"
#include "cli/BurnPlan.h"

namespace tarvok::cli {

LatencyCheck::LatencyCheck(std::vector<PortInfo> ports, LowerLatencyTimer lower)
    : ports_(std::move(ports)), lower_(std::move(lower)) {}

std::string LatencyCheck::Check(const std::string& portName, const std::string& devicePath) {
  const std::optional<LatencyFinding> finding = Find(devicePath);
  return finding ? "tarvok: " + LatencyFindingText(portName, *finding) : std::string();
}

std::optional<LatencyFinding> LatencyCheck::Find(const std::string& devicePath) {
  const std::string identity = DeviceIdentity(devicePath);
  const std::lock_guard lock(mutex_);
  if (!checked_.insert(identity).second) {
    return std::nullopt;
  }
  for (const PortInfo& port : ports_) {
    if (port.latencyTimerMs <= 1 || DeviceIdentity(port.device) != identity) {
      continue;
    }
    std::string problem;
    return LatencyFinding{port.latencyTimerMs, lower_(port, problem)};
  }
  return std::nullopt;
}

std::string LatencyFindingText(const std::string& portName, const LatencyFinding& finding) {
  if (finding.lowered) {
    return portName + ": USB adapter latency timer set from " + std::to_string(finding.timerMs) +
           " ms to 1 ms";
  }
  return SlowTimerText(portName, finding.timerMs);
}

std::string SlowTimerWarning(const std::string& portName, int timerMs) {
  return "tarvok: " + SlowTimerText(portName, timerMs);
}

std::string SlowTimerText(const std::string& portName, int timerMs) {
  // Measured at 921600 baud: 16 ms gives 68 % of the line's bound, 1 ms 86 to 92 %.
  const char* cost =
      timerMs >= 10 ? "costs about a third of the image stage's speed" : "slows the image stage";
#ifdef _WIN32
  const char* fix =
      "set Latency Timer to 1 ms in Device Manager > the port > Port Settings > Advanced";
#else
  const char* fix =
      "set it to 1 ms with a udev rule: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
      "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
#endif
  return "warning: " + portName + ": USB adapter latency timer " + std::to_string(timerMs) +
         " ms (" + cost + "); " + fix;
}

std::string SlowRoundTripText(const std::string& portName, uint32_t roundTripMs,
                              uint32_t burnRate) {
  const uint32_t cost = RoundTripCostPercent(roundTripMs, burnRate);
  if (cost < kSlowRoundTripPercent) {
    return "";
  }
  return "warning: " + portName + ": the network round trip to the serial server is " +
         std::to_string(roundTripMs) + " ms, which costs about " + std::to_string(cost) +
         " % of the image stage's speed at " + std::to_string(burnRate) +
         " (every block waits for its answer); a server nearer the PC, on the same network, "
         "burns faster";
}

LatencyCheck MachineLatencyCheck() {
  return LatencyCheck(DiscoverSerialPorts(), [](const PortInfo& port, std::string& problem) {
    return TryLowerLatencyTimer(port, problem);
  });
}

}  // namespace tarvok::cli
