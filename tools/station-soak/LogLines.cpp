#include "tools/station-soak/LogLines.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tarvok::stationsoak {
namespace {

bool Text(const nlohmann::json& record, const char* key, std::string& value) {
  const auto found = record.find(key);
  if (found == record.end() || !found->is_string()) {
    return false;
  }
  value = found->get<std::string>();
  return true;
}

// The line as a record; nullopt when a field the soak needs is missing or of the wrong kind.
std::optional<LogLine> ParseLine(const std::string& text) {
  const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object()) {
    return std::nullopt;
  }
  LogLine line;
  std::string time;
  if (!Text(record, "port", line.port) || !Text(record, "device", line.device) ||
      !Text(record, "result", line.result) || !Text(record, "message", line.message) ||
      !Text(record, "time", time) || !Text(record, "image_sha256", line.imageSha256)) {
    return std::nullopt;
  }
  const auto parsedTime = ParseUtcTime(time);
  const auto total = record.find("total_seconds");
  const auto sequence = record.find("sequence");
  const auto unit = record.find("unit");
  const auto status = record.find("status");
  if (status == record.end() || !status->is_number_integer() || !parsedTime ||
      total == record.end() || !total->is_number() || sequence == record.end() ||
      !sequence->is_number_unsigned() || unit == record.end() ||
      !(unit->is_null() || unit->is_number_unsigned())) {
    return std::nullopt;
  }
  line.status = status->get<int>();
  line.time = *parsedTime;
  line.totalSeconds = total->get<double>();
  std::string started;
  const auto parsedStart = Text(record, "started", started) ? ParseUtcTime(started) : std::nullopt;
  line.started = parsedStart
                     ? *parsedStart
                     : line.time - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                       std::chrono::duration<double>(line.totalSeconds));
  line.sequence = sequence->get<uint64_t>();
  if (!unit->is_null()) {
    line.unit = unit->get<uint64_t>();
  }
  return line;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string& text) {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milli = 0;
  char zone = 0;
  if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hour,
                  &minute, &second, &milli, &zone) != 8 ||
      zone != 'Z') {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                            std::chrono::day{day}};
  if (!date.ok()) {
    return std::nullopt;
  }
  return sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + milliseconds{milli};
}

LogReading ReadStationLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string bytes = whole.str();
  LogReading reading;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\n', start);
    const std::string text =
        bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::optional<LogLine> line = ParseLine(text);
    if (line && end != std::string::npos) {
      line->offset = start;
      reading.lines.push_back(*line);
    } else {
      reading.bad.push_back(text);
    }
    if (end == std::string::npos) {
      break;
    }
    start = end + 1;
  }
  return reading;
}

}  // namespace tarvok::stationsoak
