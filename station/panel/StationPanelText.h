// The station window's words: the header's lines, the settings as read from the station and a
// record's line in the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "station/config/StationOptions.h"
#include "station/config/StationRefusal.h"
#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"
#include "station/panel/StationPanelView.h"

namespace tarvok {

// `boardsPerHour` as RollingBoardsPerHour gives it; no rate before the first board passed.
StationHeader HeaderOf(const StationSetup& setup, const std::string& logPath,
                       const PortCounts& total, uint64_t boardsPerHour);

// How many of the last passed boards the boards per hour are measured over.
inline constexpr std::size_t kRateBoards = 20;

// Whole boards per hour over the last passed boards: `passedMs` holds when each passed (oldest
// first, at most the last kRateBoards + 1), `startMs` when the station first started. The span
// runs from the board before the last kRateBoards (the start while fewer have passed) to the
// newest, so the figure holds steady while the line is idle and follows a change of pace within
// kRateBoards boards. 0 before the first board passed.
uint64_t RollingBoardsPerHour(const std::deque<uint64_t>& passedMs, uint64_t startMs);

std::vector<std::string> SettingsLines(const StationSetup& setup, const std::string& logPath);

// "14:02:17  COM5  PASS  unit 1234  8.2 s", a failure's message after it.
std::string RecordLine(const UnitRecord& record);

// A tile's words for what its port waits for, for a notice and for why the port stopped.
std::string ArrivalText(const StationPortSetup& port);
std::string LeaveText(const PortPhaseReason& reason);
std::string NoticeText(const StationPortSetup& port, const PortNotice& notice);
std::string StopText(const PortStop& stop);

// Why the image, the loader, the log, the ports or the unit numbers a station names cannot be
// used: the same words wherever the station is opened.
std::string StationOpeningWords(const StationRefusal& refusal);

// Why the station was not opened, in one line for the window's standard error stream.
std::string RefusalReason(const StationRefusal& refusal);

// What an operator reads when the station cannot be opened: a wrong image or loader first,
// in words that say what to do, then the reason.
std::string RefusalText(const StationRefusal& refusal);

// An option given to the window that overrode the station file's value, in one line.
std::string OverrideNotice(const StationOverride& override);

}  // namespace tarvok
