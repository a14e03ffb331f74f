// The station's log as the soak reads it back: one JSON object per line, and what is wrong
// with any line that is not one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/records/UnitRecord.h"

namespace tarvok::stationsoak {

// The fields of a record the soak checks, read by the station's own reader.
struct LogLine {
  std::size_t offset = 0;  // where the line starts in the file
  std::string port;
  std::string device;
  UnitResult result = UnitResult::kFail;
  uint32_t status = 0;
  bool portWentAway = false;
  std::string message;
  std::chrono::system_clock::time_point time{};
  double totalSeconds = 0;
  // When the board's boot ROM answered; a line that a restarted station writes for the burn a
  // kill cut short starts before that kill and is written after it.
  std::chrono::system_clock::time_point started{};
  uint64_t sequence = 0;
  std::optional<uint64_t> unit;
  std::string imageSha256;
};

struct LogReading {
  std::vector<LogLine> lines;
  std::vector<std::string> bad;  // lines that are not a whole record, as they are
};

LogReading ReadStationLog(const std::string& path);

}  // namespace tarvok::stationsoak
