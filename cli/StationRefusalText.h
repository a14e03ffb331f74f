// `tarvok station`'s words for a station it did not open, and for an option that overrode
// the station file's value.
#pragma once

#include <string>

#include "station/config/StationArguments.h"
#include "station/config/StationRefusal.h"

namespace tarvok::cli {

// One line without the program's name or a line break: "station file line3.toml, line 15:
// burn_baud 12345 in [line] is not one of 115200, 230400, 460800, 921600".
std::string StationRefusalText(const StationRefusal& refusal);

// "--burn-baud 460800 overrides the station file's 921600".
std::string StationOverrideText(const StationOverride& override);

}  // namespace tarvok::cli
