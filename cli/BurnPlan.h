// `tarvok burn`'s plan: the options turned into one burn request per port, before any port is
// opened. The image is read once and shared by every request; a bad image, loader or port
// list is a usage error and touches no chip.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "burn/BurnRequest.h"
#include "cli/BurnCommand.h"

namespace tarvok::cli {

struct BurnPlan {
  std::shared_ptr<const FlashImage> image;
  std::vector<BurnRequest> requests;  // one per --port, in the order given
};

// "COM5" or "com5": a port's name as Windows and `tarvok ports` give it.
bool IsComName(const std::string& name);
// The device a --port names, or empty when it names none: a COM name's device, or a path.
std::string ResolvePort(const std::string& name);
// The device itself, to tell one port given twice (through links; on Windows whatever the case).
std::string DeviceIdentity(const std::string& device);

// The line settings the options name; the option parser has checked every word.
BurnLine LineOfOptions(const BurnOptions& options);

// False after a one-line message on `err`.
bool PlanBurn(const BurnOptions& options, StopToken stop, BurnPlan& plan, std::ostream& err);

}  // namespace tarvok::cli
