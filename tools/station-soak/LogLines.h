// The station's log as the soak reads it back: one JSON object per line, and what is wrong
// with any line that is not one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::stationsoak {

struct LogLine {
  std::size_t offset = 0;  // where the line starts in the file
  std::string port;
  std::string device;
  std::string result;  // pass, fail or interrupted
  int status = 0;
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

// "2024-05-01T12:00:00.123Z" as a time; nullopt when it is not one.
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string& text);

}  // namespace tarvok::stationsoak
