#include "station/records/UnitRecord.h"

#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

#include "app/ReadBackWords.h"

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

// Reads a record's fields one by one; once one is missing or of another kind, the record is
// not one.
class FieldReader {
 public:
  explicit FieldReader(const nlohmann::json& object) : object_(object) {}

  bool Whole() const { return whole_; }

  // A string; with `nullable`, null reads as "".
  std::string Text(const char* key, bool nullable = false) {
    const nlohmann::json* value = Find(key);
    if (value != nullptr && value->is_string()) {
      return value->get<std::string>();
    }
    whole_ = whole_ && value != nullptr && nullable && value->is_null();
    return "";
  }
  template <typename Unsigned>
  Unsigned Count(const char* key) {
    const nlohmann::json* value = Find(key);
    if (value == nullptr || !value->is_number_unsigned() ||
        value->get<uint64_t>() > std::numeric_limits<Unsigned>::max()) {
      whole_ = false;
      return 0;
    }
    return static_cast<Unsigned>(value->get<uint64_t>());
  }
  double Seconds(const char* key) {
    const nlohmann::json* value = Find(key);
    whole_ = whole_ && value != nullptr && value->is_number();
    return whole_ ? value->get<double>() : 0;
  }
  // A flag a line written before it was kept does not have: false then.
  bool Flag(const char* key) {
    const auto found = object_.find(key);
    if (found == object_.end()) {
      return false;
    }
    whole_ = whole_ && found->is_boolean();
    return found->is_boolean() && found->get<bool>();
  }
  // "read_back" and "flash_crc32", which a line written before they were kept does not have
  // (not asked, null then); a word or a CRC-32 in any other form is no record.
  void ReadBackOf(ReadBack& readBack, std::optional<uint32_t>& flashCrc) {
    const auto word = object_.find("read_back");
    if (word != object_.end()) {
      const std::optional<ReadBack> known =
          word->is_string() ? ReadBackOfWord(word->get<std::string>()) : std::nullopt;
      whole_ = whole_ && known.has_value();
      readBack = known.value_or(ReadBack::kNotAsked);
    }
    const auto crc = object_.find("flash_crc32");
    if (crc != object_.end() && !crc->is_null()) {
      flashCrc = crc->is_string() ? Crc32OfText(crc->get<std::string>()) : std::nullopt;
      whole_ = whole_ && flashCrc.has_value();
    }
  }
  const nlohmann::json* Find(const char* key) {
    const auto found = object_.find(key);
    if (found == object_.end()) {
      whole_ = false;
      return nullptr;
    }
    return &*found;
  }

 private:
  const nlohmann::json& object_;
  bool whole_ = true;
};

// The digits of `text` from `at`, `count` of them; -1 when one is not a digit.
int DigitsAt(const std::string& text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') {
      return -1;
    }
    value = value * 10 + (text[k] - '0');
  }
  return value;
}

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
      {"port_went_away", record.portWentAway},
      {"read_back", ReadBackWord(record.readBack)},
      {"flash_crc32",
       record.flashCrc ? nlohmann::ordered_json(Crc32Text(*record.flashCrc)) : nullptr},
  };
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::optional<UnitRecord> ParseUnitRecordLine(const std::string& line) {
  const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
  if (!object.is_object()) {
    return std::nullopt;  // torn, or not JSON at all
  }
  FieldReader field(object);
  UnitRecord record;
  record.time = field.Text("time");
  record.started = field.Text("started", true);
  record.station = field.Text("station");
  record.port = field.Text("port");
  record.device = field.Text("device");
  record.adapterSerial = field.Text("adapter_serial", true);
  record.imagePath = field.Text("image_path");
  record.imageSize = field.Count<uint32_t>("image_size");
  record.imageSha256 = field.Text("image_sha256");
  record.loaderSha256 = field.Text("loader_sha256");
  record.romRate = field.Count<uint32_t>("rom_rate");
  record.burnRate = field.Count<uint32_t>("burn_rate");
  record.dataBits = field.Text("data_bits");
  record.parity = field.Text("parity");
  record.stopBits = field.Text("stop_bits");
  const std::optional<UnitResult> result = UnitResultOfWord(field.Text("result"));
  record.status = field.Count<uint32_t>("status");
  record.stepResult = field.Count<uint32_t>("step_result");
  record.message = field.Text("message");
  record.loaderSeconds = field.Seconds("loader_seconds");
  record.imageSeconds = field.Seconds("image_seconds");
  record.totalSeconds = field.Seconds("total_seconds");
  record.sequence = field.Count<uint64_t>("sequence");
  const nlohmann::json* unit = field.Find("unit");
  record.hasUnit = unit != nullptr && !unit->is_null();
  record.unit = record.hasUnit ? field.Count<uint64_t>("unit") : 0;
  record.portWentAway = field.Flag("port_went_away");
  field.ReadBackOf(record.readBack, record.flashCrc);
  if (!field.Whole() || !result) {
    return std::nullopt;
  }
  record.result = *result;
  return record;
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

std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(const std::string& text) {
  // "2026-12-08T19:21:58.123Z": the separators at their places, digits everywhere else.
  constexpr std::string_view kShape = "0000-00-00T00:00:00.000Z";
  if (text.size() != kShape.size()) {
    return std::nullopt;
  }
  for (std::size_t k = 0; k < kShape.size(); ++k) {
    if (kShape[k] != '0' && text[k] != kShape[k]) {
      return std::nullopt;
    }
  }
  const int year = DigitsAt(text, 0, 4), month = DigitsAt(text, 5, 2), day = DigitsAt(text, 8, 2);
  const int hour = DigitsAt(text, 11, 2), minute = DigitsAt(text, 14, 2);
  const int second = DigitsAt(text, 17, 2), milli = DigitsAt(text, 20, 3);
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year},
                            std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (year < 0 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59 || milli < 0) {
    return std::nullopt;
  }
  return sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + milliseconds{milli};
}

}  // namespace tarvok
