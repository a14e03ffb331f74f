// The station file: what an engineer prepares once for a production station, in a small TOML
// file edited by hand, so that the operator only opens it. Reading it never writes it.
//
//   name = "line-3"                   the station's name in its records (default: host name)
//   log = "line3.jsonl"               required
//   max_failures = 3                  failed boards in a row that stop a port (0: never)
//   [image]     path, sha256          required: the image and the SHA-256 it must have
//   [loader]    path, sha256          optional: a RAM loader of the board's own (both keys)
//               boot_stage, boot_stage_sha256    optional: that loader's boot stage (both)
//   [line]      rom_baud, burn_baud, data_bits (numbers), parity, stop_bits (words)
//   [units]     offset, first, step, format, state                  unit numbers, when present
//   [[port]]    name, board, leave_silence_ms                       one table per port
//
// Every key is a row of the station's option table, and its value passes the same check as
// the option's on the command line: a number where the option takes a number (a string there
// is refused), a string where it takes a word or a path. Paths are taken from the file's own
// folder. The image and the loader are named here, not read: opening the station reads them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/config/StationOptions.h"
#include "station/config/StationRefusal.h"
#include "station/core/StationSetup.h"

namespace tarvok {

// One key's value, as the option's text ("921600", "0x100" as "256", a path from the file's
// folder) and the line it is on.
struct StationFileValue {
  const StationOption* option = nullptr;
  std::string text{};
  StationPlace place{};
};

struct StationFilePort {
  std::string name{};          // "COM5", "/dev/ttyUSB1"
  std::string board{};         // the signal's word: operator, port, dsr, cts, dcd, ri or chip
  BoardSignalChoice signal{};  // the same, with the chip's leave silence
  StationPlace place{};        // the line of its name
};

struct StationFile {
  std::string path{};  // the file itself, as given
  std::vector<StationFileValue>
      values{};  // the keys of the top, [image], [loader], [line], [units]
  std::vector<StationFilePort> ports{};

  // The value of an option ("--burn-baud"; "loader" "sha256" for a key with no option), or
  // null where the file has none.
  const StationFileValue* Find(std::string_view option) const;
  const StationFileValue* Find(std::string_view section, std::string_view key) const;
};

// Reads the station file at `path` into `file`; a refusal when the file cannot be read, is no
// TOML, has a key it does not know, lacks one it needs, has a value of the wrong type or that
// fails its option's check, or names a port twice.
std::optional<StationRefusal> ReadStationFile(const std::string& path, StationFile& file);

}  // namespace tarvok
