// The USB adapters whose latency timer slows a burn: each reply the burn waits for waits for
// the adapter's timer too, so 16 ms (the usual default) costs about a third of the image
// stage's speed against 1 ms. Before a port's first burn its timer is lowered where the
// system lets a program do it (Linux, as root or with a udev rule), and otherwise the user is
// told, once per port and run, the one setting that fixes it.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/PortDiscovery.h"

namespace tarvok::cli {

// A port's adapter whose timer is above 1 ms: `lowered` when it was set to 1 ms.
struct LatencyFinding {
  int timerMs = 0;
  bool lowered = false;
};

// Sets a port's timer to 1 ms; false with the reason when it did not.
using LowerLatencyTimer = std::function<bool(const PortInfo& port, std::string& problem)>;

class LatencyCheck {
 public:
  // `ports` as discovery found them; `lower` is tried on each slow adapter's port once.
  LatencyCheck(std::vector<PortInfo> ports, LowerLatencyTimer lower);

  // The line to print (without its newline) for the port people call `portName`, opened as
  // `devicePath`, the first time it is checked in this run: a warning when its adapter's
  // timer is above 1 ms and could not be lowered, a short note when it was lowered. Empty for
  // a port with no timer above 1 ms, one the system does not know, and every later time.
  // Safe to call from several threads.
  std::string Check(const std::string& portName, const std::string& devicePath);
  // The same finding, for a caller that words it itself; nullopt where Check says nothing.
  std::optional<LatencyFinding> Find(const std::string& devicePath);

 private:
  const std::vector<PortInfo> ports_;
  const LowerLatencyTimer lower_;
  std::mutex mutex_;
  std::set<std::string> checked_;  // the devices' identities
};

// The line Check prints for `finding` (the note or the warning), without its "tarvok: ".
std::string LatencyFindingText(const std::string& portName, const LatencyFinding& finding);

// The warning for a timer of `timerMs` that stays: what it costs and the setting that fixes it
// on this system.
std::string SlowTimerWarning(const std::string& portName, int timerMs);
// The same without the leading "tarvok: ".
std::string SlowTimerText(const std::string& portName, int timerMs);

// The warning for a network port whose measured round trip costs a tenth or more of the image
// stage's speed at `burnRate` (every 1,024-byte block waits for its answer, and the answer
// comes a round trip after the block has left), without the leading "tarvok: "; empty for a
// faster one.
std::string SlowRoundTripText(const std::string& portName, uint32_t roundTripMs, uint32_t burnRate);

// This machine's ports, lowered where the system allows.
LatencyCheck MachineLatencyCheck();

}  // namespace tarvok::cli
