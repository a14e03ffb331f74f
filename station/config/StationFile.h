// The station file: what an engineer prepares once for a production station, in a small TOML
// file edited by hand, so that the operator only opens it. Reading it never writes it.
//
//   name = "line-3"                   the station's name in its records (default: host name)
//   log = "line3.jsonl"               required
//   max_failures = 3                  failed boards in a row that stop a port (0: never)
//   [image]     path, sha256          required: the image and the SHA-256 it must have
//   [loader]    path, sha256          optional: a RAM loader of the board's own (both keys)
//   [line]      rom_baud, burn_baud, data_bits, parity, stop_bits   as the command line's words
//   [units]     offset, first, step, format, state                  unit numbers, when present
//   [[port]]    name, board, leave_silence_ms                       one table per port
//
// Paths are taken from the file's own folder. The image and the loader are named here, not
// read: the station's plan reads them and refuses one whose SHA-256 is not the expected one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/core/StationSetup.h"

namespace tarvok {

struct StationFilePort {
  std::string name;          // "COM5", "/dev/ttyUSB1"
  std::string board;         // the signal's word: operator, port, dsr, cts, dcd, ri or chip
  BoardSignalChoice signal;  // the same, with the chip's leave silence
};

struct StationFileUnits {
  uint32_t offset = 0;
  uint64_t first = 0;
  uint64_t step = 1;
  std::string format = "le32";  // le32, be32 or dec:WIDTH
  std::string state;            // empty: beside the log
};

struct StationFile {
  std::string path;  // the file itself, as given
  std::string name;  // empty: the host's name
  std::string log;
  std::optional<uint32_t> maxFailures;
  std::string image;
  std::string imageSha256;   // lower case
  std::string loader;        // empty: the loader built in
  std::string loaderSha256;  // lower case, with a loader
  // The line settings as the command line's words ("921600", "none", "1.5"); empty where the
  // file leaves a setting at its default.
  std::string romBaud;
  std::string burnBaud;
  std::string dataBits;
  std::string parity;
  std::string stopBits;
  std::optional<StationFileUnits> units;
  std::vector<StationFilePort> ports;
};

// Reads the station file at `path` into `file`. False with one message for people in `problem`
// ("station file line3.toml, line 12: unknown key \"speed\" in [line]") when the file cannot be
// read, is no TOML, has a key it does not know, lacks one it needs, or has a value of the wrong
// type or out of range, or a port twice.
bool ReadStationFile(const std::string& path, StationFile& file, std::string& problem);

}  // namespace tarvok
