#include "station/records/UnitRecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace tarvok {

namespace {

struct ResultWord {
  UnitResult result;
  const char* word;
};
constexpr ResultWord kResultWords[] = {
    {UnitResult::kPass, "pass"},
    {UnitResult::kFail, "fail"},
    {UnitResult::kInterrupted, "interrupted"},
};

}  // namespace

const char* UnitResultWord(UnitResult result) {
  for (const ResultWord& entry : kResultWords) {
    if (entry.result == result) {
      return entry.word;
    }
  }
  return "fail";
}

std::optional<UnitResult> UnitResultOfWord(const std::string& word) {
  for (const ResultWord& entry : kResultWords) {
    if (word == entry.word) {
      return entry.result;
    }
  }
  return std::nullopt;
}

std::string UnitRecordLine(const UnitRecord& record) {
  const auto textOrNull = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
  };
  const nlohmann::ordered_json line = {
      {"time", record.time},
      {"started", textOrNull(record.started)},
      {"station", record.station},
      {"port", record.port},
      {"device", record.device},
      {"adapter_serial", textOrNull(record.adapterSerial)},
      {"image_path", record.imagePath},
      {"image_size", record.imageSize},
      {"image_sha256", record.imageSha256},
      {"loader_sha256", record.loaderSha256},
      {"rom_rate", record.romRate},
      {"burn_rate", record.burnRate},
      {"data_bits", record.dataBits},
      {"parity", record.parity},
      {"stop_bits", record.stopBits},
      {"result", UnitResultWord(record.result)},
      {"status", record.status},
      {"step_result", record.stepResult},
      {"message", record.message},
      {"loader_seconds", record.loaderSeconds},
      {"image_seconds", record.imageSeconds},
      {"total_seconds", record.totalSeconds},
      {"sequence", record.sequence},
      {"unit", record.hasUnit ? nlohmann::ordered_json(record.unit) : nullptr},
  };
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto milliseconds = floor<std::chrono::milliseconds>(time);
  const auto day = floor<days>(milliseconds);
  const year_month_day date{day};
  const hh_mm_ss clock{milliseconds - day};
  char text[32];
  std::snprintf(
      text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

std::string UtcTimestampNow() {
  return UtcTimestamp(std::chrono::system_clock::now());
}

}  // namespace tarvok
