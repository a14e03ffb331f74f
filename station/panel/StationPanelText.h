// The station window's words: the header's lines, the settings as read from the station and a
// record's line in the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/config/StationOptions.h"
#include "station/config/StationRefusal.h"
#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"
#include "station/panel/StationPanelView.h"

namespace tarvok {

// `elapsedMs` since the station first started; no rate before the first board passed.
StationHeader HeaderOf(const StationSetup& setup, const std::string& logPath,
                       const PortCounts& total, uint64_t elapsedMs);

// Whole boards per hour: `passed` boards in `elapsedMs`.
uint64_t BoardsPerHour(uint64_t passed, uint64_t elapsedMs);

std::vector<std::string> SettingsLines(const StationSetup& setup, const std::string& logPath);

// "14:02:17  COM5  PASS  unit 1234  8.2 s", a failure's message after it.
std::string RecordLine(const UnitRecord& record);

// Why the station was not opened, in one line for the window's standard error stream.
std::string RefusalReason(const StationRefusal& refusal);

// What an operator reads when the station cannot be opened: a wrong image or loader first,
// in words that say what to do, then the reason.
std::string RefusalText(const StationRefusal& refusal);

// An option given to the window that overrode the station file's value, in one line.
std::string OverrideNotice(const StationOverride& override);

}  // namespace tarvok
