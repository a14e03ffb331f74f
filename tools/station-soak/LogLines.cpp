#include "tools/station-soak/LogLines.h"

#include <fstream>
#include <sstream>

namespace tarvok::stationsoak {
namespace {

// The line as the soak's record of it; nullopt when it is not a whole record, or its times are
// not times.
std::optional<LogLine> ParseLine(const std::string& text) {
  const std::optional<UnitRecord> record = ParseUnitRecordLine(text);
  const auto time = record ? ParseUtcTimestamp(record->time) : std::nullopt;
  if (!time) {
    return std::nullopt;
  }
  LogLine line;
  line.port = record->port;
  line.device = record->device;
  line.result = record->result;
  line.status = record->status;
  line.portWentAway = record->portWentAway;
  line.message = record->message;
  line.time = *time;
  line.totalSeconds = record->totalSeconds;
  const auto started = ParseUtcTimestamp(record->started);
  line.started = started
                     ? *started
                     : line.time - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                       std::chrono::duration<double>(line.totalSeconds));
  line.sequence = record->sequence;
  if (record->hasUnit) {
    line.unit = record->unit;
  }
  line.imageSha256 = record->imageSha256;
  return line;
}

}  // namespace

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
