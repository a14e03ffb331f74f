// `tarvok burn`'s plan: the options turned into one burn request per port, before any port is
// opened. The image is read once and shared by every request; a bad image, loader or port
// list is a usage error and touches no chip.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/PortIdentity.h"
#include "burn/BurnRequest.h"
#include "cli/BurnCommand.h"

namespace tarvok::cli {

struct BurnPlan {
  std::shared_ptr<const FlashImage> image;
  std::vector<BurnRequest> requests;  // one per --port, in the order given
};

// The line settings the options name; the option parser has checked every word.
BurnLine LineOfOptions(const BurnOptions& options);

// False after a one-line message on `err`.
bool PlanBurn(const BurnOptions& options, StopToken stop, BurnPlan& plan, std::ostream& err);

}  // namespace tarvok::cli
