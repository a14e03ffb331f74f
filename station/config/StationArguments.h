// The station's options on a command line, from the one option table: `tarvok station` and
// both station windows add them to their parser here, and complete them here from the station
// file, so that every value is checked the same way wherever it is given.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/config/StationOptions.h"
#include "station/config/StationRefusal.h"

namespace tarvok {

enum class StationFront : uint8_t {
  kCommandLine,  // `tarvok station`: IMAGE, and --count and --json
  kWindow,       // the windows: FILE, a station file or the image
};

// What the command line gave, in order: each option's row and its text.
struct StationArguments {
  std::vector<std::pair<const StationOption*, std::string>> given;
  std::string file;  // the windows' FILE
  bool Gave(std::string_view option) const;
};

// Adds the table's options for `front` to `app`; what the parser finds lands in `arguments`.
void AddStationOptions(CLI::App& app, StationFront front, StationArguments& arguments);

// The options the command line gave, checked, and the station file's values (when there is a
// station file) where nothing was given. Without a station file, IMAGE, --port and --log are
// required.
std::optional<StationRefusal> CompleteStationOptions(const StationArguments& arguments,
                                                     StationOptions& options,
                                                     std::vector<StationOverride>& overrides);

}  // namespace tarvok
