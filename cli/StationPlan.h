// `tarvok station`'s plan: the options turned into a station, its log and its unit numbers,
// before any port is touched. Everything that would make a board wrong is refused here.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/BurnCommand.h"
#include "station/config/BoardSignalWord.h"
#include "station/core/StationSetup.h"
#include "station/records/BoardLedger.h"
#include "station/records/StationLog.h"
#include "station/records/UnitNumberStore.h"

namespace tarvok::cli {

struct StationOptions {
  std::string stationFile;         // the station file the rest was filled in from, when given
  BurnOptions burn;                // the image, the ports, the loader, the line settings, --json
  std::string expectSha256;        // the image must have this SHA-256, when given
  std::string expectLoaderSha256;  // and the loader this one
  std::string log;
  // How a board arrives and leaves on every port: port, dsr, cts, dcd, ri, operator or chip;
  // with a station file's signals per port, their words for people ("dsr, chip").
  std::string board = "operator";
  uint32_t leaveSilenceMs = 3000;
  std::vector<BoardSignalChoice> portSignals;  // one per port, or empty: `board` for each
  std::string name;                            // the host's name when empty
  uint64_t count = 0;
  uint32_t maxFailures = 3;
  std::string unitOffset;  // unit numbers when given (decimal or 0x hexadecimal)
  std::optional<uint64_t> unitFirst;
  uint64_t unitStep = 1;
  std::string unitFormat = "le32";
  std::string unitState;  // beside the log when empty
};

struct StationPlan {
  StationSetup setup;
  std::unique_ptr<StationLog> log;
  std::unique_ptr<BoardLedger> ledger;
  std::unique_ptr<UnitNumberStore> units;
};

// The board signals' words, for the option's check.
using tarvok::BoardSignalWords;

// False after a one-line message on `err`.
bool PlanStation(const StationOptions& options, StationPlan& plan, std::ostream& err);

}  // namespace tarvok::cli
