// The station windows' arguments, the same on every platform: a station file (or an image with
// --port and --log) and the settings an engineer may give beside it.
#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

#include "cli/StationPlan.h"

namespace tarvok::cli {

// Adds FILE, --station, --port, --log, --board and the other settings to `app`.
void AddStationWindowOptions(CLI::App& app, StationOptions& options, std::string& file);

// After parsing: FILE taken as the station file or the image, and the station file's values
// filled in where nothing was given. What the given options overrode is said on `overrides`;
// false with a one-line message on `err`.
bool CompleteStationWindowOptions(const CLI::App& app, const std::string& file,
                                  StationOptions& options, std::ostream& overrides,
                                  std::ostream& err);

}  // namespace tarvok::cli
