// A station opened from its options: the image and the loader read and checked against their
// digests, the ports told apart, the unit numbers, the log and the ledger of boards in place
// opened; everything that would make a board wrong is refused here, before any port is touched.
#pragma once

#include <memory>
#include <optional>

#include "station/config/StationOptions.h"
#include "station/config/StationRefusal.h"
#include "station/core/StationSetup.h"
#include "station/records/BoardLedger.h"
#include "station/records/StationLog.h"
#include "station/records/UnitNumberStore.h"

namespace tarvok {

// An opened station: everything a station runs with.
struct StationParts {
  StationSetup setup;
  std::unique_ptr<StationLog> log;
  std::unique_ptr<BoardLedger> ledger;
  std::unique_ptr<UnitNumberStore> units;  // null without unit numbers
};

std::optional<StationRefusal> OpenStation(const StationOptions& options, StationParts& parts);

}  // namespace tarvok
