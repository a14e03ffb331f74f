// `tarvok station`: the automatic mode of a production line. Every port waits for a board,
// burns it, records it in the log and waits for it to leave, again, until stopped (Ctrl-C,
// SIGTERM) or until enough boards have passed.
#pragma once

#include <atomic>
#include <iosfwd>

#include "station/config/StationOptions.h"

namespace tarvok::cli {

// Opens the station `options` describe (refused with one line on `err` and kExitBadInput),
// then runs it.
int RunStationCommand(const StationOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err, const std::atomic<bool>& stop);

}  // namespace tarvok::cli
