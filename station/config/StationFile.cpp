#include "station/config/StationFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include "serial/PortDiscovery.h"
#include "station/config/BoardSignalWord.h"
#include "station/platform/LowerCase.h"

// Errors come back as values, not exceptions.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

namespace tarvok {
namespace {

bool IsAbsolute(const std::string& path) {
  const bool drive =
      path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  return drive || (!path.empty() && (path[0] == '/' || path[0] == '\\'));
}

// `path` as seen from the folder that holds `file`.
std::string BesideFile(const std::string& file, const std::string& path) {
  const std::size_t slash = file.find_last_of("/\\");
  if (IsAbsolute(path) || slash == std::string::npos) {
    return path;
  }
  return file.substr(0, slash + 1) + path;
}

// The TOML type's token, for a refusal of a value of the wrong type.
const char* TypeToken(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "string";
    case toml::node_type::integer:
      return "integer";
    case toml::node_type::floating_point:
      return "float";
    case toml::node_type::boolean:
      return "boolean";
    case toml::node_type::table:
      return "table";
    case toml::node_type::array:
      return "array";
    default:
      return "date";
  }
}

bool TakesNumber(const StationOption& option) {
  return option.value == OptionValue::kNumber || option.value == OptionValue::kOffset ||
         option.numberInFile;
}

// Walks the file's tables, keeping the first refusal.
class FileReader {
 public:
  explicit FileReader(std::string path) : path_(std::move(path)) {}

  std::optional<StationRefusal>& Refusal() { return refusal_; }

  StationPlace PlaceOf(const toml::source_region& where) const {
    return {path_, static_cast<int>(where.begin.line)};
  }

  bool Refuse(StationRefusal refusal) {
    if (refusal.place.file.empty()) {
      refusal.place.file = path_;
    }
    refusal_ = std::move(refusal);
    return false;
  }

  bool WrongType(const toml::node& node, const std::string& key, const std::string& section,
                 const StationOption* option, const char* expected) {
    return Refuse({.kind = StationRefusalKind::kBadValue,
                   .place = PlaceOf(node.source()),
                   .option = option,
                   .fault = ValueFault::kWrongType,
                   .name = key,
                   .section = section,
                   .expected = expected,
                   .actual = TypeToken(node)});
  }

  // Every key of `table` is a row of the option table in `section`, or one of `tables`; the
  // values of the rows are checked and kept.
  bool Section(const toml::table& table, const std::string& section,
               std::initializer_list<std::string_view> tables,
               std::vector<StationFileValue>& values) {
    std::vector<std::pair<const toml::key*, const toml::node*>> keys;
    for (auto&& [key, node] : table) {
      keys.emplace_back(&key, &node);
    }
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
      return a.first->source().begin.line < b.first->source().begin.line;
    });
    for (const auto& [key, node] : keys) {
      const std::string name(key->str());
      const StationOption* option = StationOptionOfKey(section, name);
      if (option == nullptr && std::find(tables.begin(), tables.end(), name) == tables.end()) {
        return Refuse({.kind = StationRefusalKind::kUnknownKey,
                       .place = PlaceOf(key->source()),
                       .name = name,
                       .section = section,
                       .expected = KnownKeys(section, tables)});
      }
      if (option != nullptr && !Value(*node, name, section, *option, values)) {
        return false;
      }
    }
    return true;
  }

  // `key` must be in `table`, whose own line is `place`; `what` says what it holds.
  bool Needs(const toml::table& table, const std::string& key, const std::string& section,
             const toml::source_region& where) {
    return table.get(key) != nullptr || Refuse({.kind = StationRefusalKind::kMissingKey,
                                                .place = PlaceOf(where),
                                                .name = key,
                                                .section = section});
  }

  // The table under `key`, or null when there is none (or it is no table, refused).
  const toml::table* Table(const toml::table& top, const std::string& key) {
    const toml::node* node = top.get(key);
    if (node != nullptr && !node->is_table()) {
      WrongType(*node, key, "", nullptr, "table");
    }
    return node == nullptr ? nullptr : node->as_table();
  }

 private:
  bool Value(const toml::node& node, const std::string& key, const std::string& section,
             const StationOption& option, std::vector<StationFileValue>& values) {
    std::string text;
    if (TakesNumber(option) && node.is_integer()) {
      text = std::to_string(node.as_integer()->get());
    } else if (!TakesNumber(option) && node.is_string()) {
      text = node.as_string()->get();
    } else {
      return WrongType(node, key, section, &option, TakesNumber(option) ? "integer" : "string");
    }
    if (const std::optional<ValueFault> fault = FaultOfValue(option, text)) {
      return Refuse({.kind = StationRefusalKind::kBadValue,
                     .place = PlaceOf(node.source()),
                     .option = &option,
                     .fault = *fault,
                     .name = key,
                     .section = section,
                     .value = text});
    }
    if (option.value == OptionValue::kPath) {
      text = BesideFile(path_, text);
    } else if (option.value == OptionValue::kOffset) {
      char hex[24];
      std::snprintf(hex, sizeof hex, "0x%llX",
                    static_cast<unsigned long long>(NumberOfValue(option, text).value_or(0)));
      text = hex;
    }
    values.push_back({&option, text, PlaceOf(node.source())});
    return true;
  }

  static std::string KnownKeys(const std::string& section,
                               std::initializer_list<std::string_view> tables) {
    std::vector<std::string> known;
    for (const StationOption& option : StationOptionTable()) {
      if (!option.key.empty() && option.section == section) {
        known.emplace_back(option.key);
      }
    }
    known.insert(known.end(), tables.begin(), tables.end());
    return JoinedWords(known, ", ");
  }

  const std::string path_;
  std::optional<StationRefusal> refusal_;
};

// [image], [loader], [line] and [units]: the first and the last two optional.
bool ReadTables(FileReader& reader, const toml::table& top, StationFile& file) {
  for (const char* section : {"image", "loader", "line", "units"}) {
    const toml::table* table = reader.Table(top, section);
    if (reader.Refusal()) {
      return false;
    }
    if (table == nullptr) {
      if (std::string_view(section) == "image") {
        return reader.Refuse({.kind = StationRefusalKind::kMissingKey, .name = "image"});
      }
      continue;
    }
    const bool digested = std::string_view(section) == "image" || section == std::string("loader");
    const bool units = std::string_view(section) == "units";
    // A boot stage is pinned by its digest as the loader is.
    const bool staged = section == std::string("loader") && table->get("boot_stage") != nullptr;
    if (!reader.Section(*table, section, {}, file.values) ||
        (digested && (!reader.Needs(*table, "path", section, table->source()) ||
                      !reader.Needs(*table, "sha256", section, table->source()))) ||
        (staged && !reader.Needs(*table, "boot_stage_sha256", section, table->source())) ||
        (units && (!reader.Needs(*table, "offset", section, table->source()) ||
                   !reader.Needs(*table, "first", section, table->source())))) {
      return false;
    }
  }
  return true;
}

bool ReadPort(FileReader& reader, const toml::table& table, StationFilePort& port) {
  std::vector<StationFileValue> values;
  if (!reader.Section(table, "port", {}, values) ||
      !reader.Needs(table, "name", "port", table.source())) {
    return false;
  }
  port.board = "operator";
  const StationFileValue* silence = nullptr;
  for (const StationFileValue& value : values) {
    if (value.option->key == "name") {
      port.name = value.text;
      port.place = value.place;
    } else if (value.option->key == "board") {
      port.board = value.text;
    } else {
      silence = &value;
    }
  }
  BoardSignalOfWord(port.board, port.signal);  // the word has passed the table's check
  if (silence != nullptr) {
    if (port.signal.kind != BoardSignal::kChip) {
      return reader.Refuse({.kind = StationRefusalKind::kBadValue,
                            .place = silence->place,
                            .option = silence->option,
                            .fault = ValueFault::kChipOnly,
                            .name = "leave_silence_ms",
                            .section = "port",
                            .value = silence->text});
    }
    port.signal.leaveSilenceMs = static_cast<uint32_t>(std::stoull(silence->text));
  }
  return true;
}

bool ReadPorts(FileReader& reader, const toml::table& top, StationFile& file) {
  const toml::node* node = top.get("port");
  if (node == nullptr) {
    return reader.Refuse({.kind = StationRefusalKind::kMissingKey, .name = "port"});
  }
  const toml::array* ports = node->as_array();
  if (ports == nullptr || !ports->is_array_of_tables()) {
    return reader.WrongType(*node, "port", "", nullptr, "tables");
  }
  for (const toml::node& each : *ports) {
    StationFilePort port;
    if (!ReadPort(reader, *each.as_table(), port)) {
      return false;
    }
    // COM names are the same in any case; so are paths on Windows, where they are told apart
    // by the device behind them when the station is opened.
    for (const StationFilePort& earlier : file.ports) {
      if (PortNameKey(earlier.name) == PortNameKey(port.name)) {
        return reader.Refuse({.kind = StationRefusalKind::kSamePort,
                              .place = port.place,
                              .otherLine = earlier.place.line,
                              .value = port.name,
                              .other = earlier.name});
      }
    }
    file.ports.push_back(port);
  }
  return true;
}

}  // namespace

const StationFileValue* StationFile::Find(std::string_view option) const {
  const auto value = std::find_if(values.begin(), values.end(), [option](const auto& each) {
    return each.option->name == option;
  });
  return value == values.end() ? nullptr : &*value;
}

const StationFileValue* StationFile::Find(std::string_view section, std::string_view key) const {
  const auto value = std::find_if(values.begin(), values.end(), [&](const auto& each) {
    return each.option->section == section && each.option->key == key;
  });
  return value == values.end() ? nullptr : &*value;
}

std::optional<StationRefusal> ReadStationFile(const std::string& path, StationFile& file) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return StationRefusal{.kind = StationRefusalKind::kStationFileUnreadable, .place = {path}};
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  const toml::parse_result parsed = toml::parse(std::string_view(content), std::string_view(path));
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    return StationRefusal{.kind = StationRefusalKind::kStationFileNotToml,
                          .place = {path, static_cast<int>(error.source().begin.line)},
                          .detail = std::string(error.description())};
  }
  StationFile read;
  read.path = path;
  FileReader reader(path);
  const toml::table& top = parsed.table();
  if (!reader.Section(top, "", {"image", "loader", "line", "units", "port"}, read.values) ||
      !reader.Needs(top, "log", "", top.source()) || !ReadTables(reader, top, read) ||
      !ReadPorts(reader, top, read)) {
    return reader.Refusal();
  }
  file = std::move(read);
  return std::nullopt;
}

}  // namespace tarvok
