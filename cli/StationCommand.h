// `tarvok station`: the automatic mode of a production line. Every port waits for a board,
// burns it, records it in the log and waits for it to leave, again, until stopped (Ctrl-C,
// SIGTERM) or until enough boards have passed.
#pragma once

#include <atomic>
#include <iosfwd>

#include "cli/StationPlan.h"

namespace tarvok::cli {

int RunStationCommand(const StationOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err, const std::atomic<bool>& stop);

}  // namespace tarvok::cli
