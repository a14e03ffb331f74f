// `tarvok station --station FILE`: the station file fills in what the command line left out;
// what the command line gave overrides the file, and says so.
#pragma once

#include <iosfwd>
#include <set>
#include <string>

#include "cli/StationPlan.h"

namespace tarvok::cli {

// Completes `options` from the station file it names, if any; `given` holds the names of the
// options the command line was given ("IMAGE", "--port", "--burn-baud"). Each given option that
// overrides a different value of the file's is said on one line on `err`. Without a station
// file, IMAGE, --port and --log are required. False after a one-line message on `err`.
bool CompleteStationOptions(StationOptions& options, const std::set<std::string>& given,
                            std::ostream& err);

// The station windows' one file argument (`tarvok-station FILE`): with no --station, no --port
// and no --log it is a station file; otherwise the image. Notes an image in `given` ("IMAGE").
void TakeFileArgument(const std::string& file, StationOptions& options,
                      std::set<std::string>& given);

}  // namespace tarvok::cli
