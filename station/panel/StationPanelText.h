// The station window's words: the header's lines, the settings as read from the station and a
// record's line in the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A tile's words for what its port waits for, for a notice and for why the port stopped.
std::string ArrivalText(const StationPortSetup& port);
std::string LeaveText(const PortPhaseReason& reason);
std::string NoticeText(const StationPortSetup& port, const PortNotice& notice);
std::string StopText(const PortStop& stop);

// What an operator reads when the station cannot be opened: a wrong image or loader first,
// in words that say what to do, then the reason.
std::string RefusalText(const std::string& problem);

}  // namespace tarvok
