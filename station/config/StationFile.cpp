#include "station/config/StationFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <sstream>
#include <string_view>

#include "burn/LineOptions.h"
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

const char* TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a number with a fraction";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "a list";
    default:
      return "a date or time";
  }
}

template <typename Value, std::size_t N>
std::string WordsOf(const std::array<LineOption<Value>, N>& options) {
  std::string words;
  for (const auto& option : options) {
    words += (words.empty() ? "" : ", ") + std::string(option.word);
  }
  return words;
}

// Walks the file's tables, keeping the first problem with its line.
class FileReader {
 public:
  explicit FileReader(const std::string& path) : path_(path) {}

  const std::string& Problem() const { return problem_; }

  bool Fail(const toml::source_region& where, const std::string& text) {
    problem_ = "station file " + path_ + ", line " + std::to_string(where.begin.line) + ": " + text;
    return false;
  }

  // Every key of `table` is one of `known`; `section` names the table for people.
  bool KnownKeysOnly(const toml::table& table, std::initializer_list<std::string_view> known,
                     const std::string& section) {
    const toml::key* first = nullptr;
    for (auto&& [key, value] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end() &&
          (first == nullptr || key.source().begin.line < first->source().begin.line)) {
        first = &key;
      }
    }
    if (first == nullptr) {
      return true;
    }
    std::string choices;
    for (const std::string_view key : known) {
      choices += (choices.empty() ? "" : ", ") + std::string(key);
    }
    return Fail(first->source(), "unknown key \"" + std::string(first->str()) + "\"" + In(section) +
                                     " (known: " + choices + ")");
  }

  // The node of `key` in `table`, or null; with `required`, null is a problem.
  const toml::node* Find(const toml::table& table, std::string_view key, const std::string& section,
                         bool required, const char* what) {
    const toml::node* node = table.get(key);
    if (node == nullptr && required) {
      problem_ = "station file " + path_ + ": " + (section.empty() ? "" : section + " ") +
                 "needs " + std::string(key) + " (" + what + ")";
    }
    return node;
  }

  bool String(const toml::table& table, std::string_view key, const std::string& section,
              std::string& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
      return true;
    }
    if (!node->is_string()) {
      return WrongType(*node, key, section, "a string");
    }
    out = node->as_string()->get();
    if (out.empty()) {
      return Fail(node->source(), std::string(key) + In(section) + " is empty");
    }
    return true;
  }

  bool Integer(const toml::table& table, std::string_view key, const std::string& section,
               int64_t least, int64_t most, std::optional<int64_t>& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
      return true;
    }
    if (!node->is_integer()) {
      return WrongType(*node, key, section, "an integer");
    }
    const int64_t value = node->as_integer()->get();
    if (value < least || value > most) {
      return Fail(node->source(), std::string(key) + " " + std::to_string(value) + In(section) +
                                      " is out of range: " + std::to_string(least) + " to " +
                                      std::to_string(most));
    }
    out = value;
    return true;
  }

  // A line setting given as one of its command-line words, as a string or as an integer.
  template <typename Value, std::size_t N>
  bool Setting(const toml::table& table, std::string_view key,
               const std::array<LineOption<Value>, N>& options, std::string& word) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
      return true;
    }
    if (node->is_integer()) {
      word = std::to_string(node->as_integer()->get());
    } else if (node->is_string()) {
      word = node->as_string()->get();
    } else {
      return WrongType(*node, key, "[line]", "a word or an integer");
    }
    if (!OptionByWord(options, word)) {
      return Fail(node->source(),
                  std::string(key) + " " + word + " in [line] is not one of " + WordsOf(options));
    }
    return true;
  }

  bool Sha256(const toml::node& node, const std::string& section, std::string& out) {
    out = LowerCase(node.as_string()->get());
    const bool hex = out.size() == 64 && std::all_of(out.begin(), out.end(), [](unsigned char c) {
                       return std::isxdigit(c) != 0;
                     });
    return hex || Fail(node.source(), "sha256" + In(section) + " is not 64 hexadecimal digits");
  }

  // A table under `key`, or null when there is none; false when `key` holds something else.
  bool Table(const toml::table& parent, std::string_view key, const toml::table*& out) {
    const toml::node* node = parent.get(key);
    out = node == nullptr ? nullptr : node->as_table();
    return node == nullptr || out != nullptr ||
           WrongType(*node, key, "", "a table ([" + std::string(key) + "])");
  }

 private:
  static std::string In(const std::string& section) {
    return section.empty() ? "" : " in " + section;
  }
  bool WrongType(const toml::node& node, std::string_view key, const std::string& section,
                 const std::string& expected) {
    return Fail(node.source(), std::string(key) + In(section) + " must be " + expected + ", not " +
                                   TypeName(node));
  }

  const std::string path_;
  std::string problem_;
};

bool ReadTop(FileReader& reader, const toml::table& top, StationFile& file) {
  std::optional<int64_t> maxFailures;
  if (!reader.KnownKeysOnly(
          top, {"name", "log", "max_failures", "image", "loader", "line", "units", "port"}, "") ||
      !reader.String(top, "name", "", file.name) || !reader.String(top, "log", "", file.log) ||
      !reader.Integer(top, "max_failures", "", 0, 1000000, maxFailures)) {
    return false;
  }
  if (!reader.Find(top, "log", "", true, "the log's path")) {
    return false;
  }
  file.log = BesideFile(file.path, file.log);
  if (maxFailures) {
    file.maxFailures = static_cast<uint32_t>(*maxFailures);
  }
  return true;
}

// [image] or [loader]: a path and the SHA-256 the file there must have.
bool ReadDigestedFile(FileReader& reader, const toml::table& table, const std::string& section,
                      const char* what, std::string& path, std::string& sha256) {
  if (!reader.KnownKeysOnly(table, {"path", "sha256"}, section) ||
      !reader.String(table, "path", section, path) ||
      !reader.String(table, "sha256", section, sha256)) {
    return false;
  }
  const toml::node* digest = reader.Find(table, "sha256", section, true, what);
  if (!reader.Find(table, "path", section, true, "the file's path") || digest == nullptr ||
      !reader.Sha256(*digest, section, sha256)) {
    return false;
  }
  return true;
}

bool ReadFiles(FileReader& reader, const toml::table& top, StationFile& file) {
  const toml::table* image = nullptr;
  const toml::table* loader = nullptr;
  if (!reader.Table(top, "image", image) || !reader.Table(top, "loader", loader)) {
    return false;
  }
  if (image == nullptr) {
    reader.Find(top, "image", "", true, "a table with the image's path and sha256");
    return false;
  }
  if (!ReadDigestedFile(reader, *image, "[image]", "the image's expected SHA-256", file.image,
                        file.imageSha256)) {
    return false;
  }
  file.image = BesideFile(file.path, file.image);
  if (loader == nullptr) {
    return true;
  }
  if (!ReadDigestedFile(reader, *loader, "[loader]", "the loader's expected SHA-256", file.loader,
                        file.loaderSha256)) {
    return false;
  }
  file.loader = BesideFile(file.path, file.loader);
  return true;
}

bool ReadLine(FileReader& reader, const toml::table& top, StationFile& file) {
  const toml::table* line = nullptr;
  if (!reader.Table(top, "line", line) || line == nullptr) {
    return line == nullptr && reader.Problem().empty();
  }
  return reader.KnownKeysOnly(*line, {"rom_baud", "burn_baud", "data_bits", "parity", "stop_bits"},
                              "[line]") &&
         reader.Setting(*line, "rom_baud", kRomRates, file.romBaud) &&
         reader.Setting(*line, "burn_baud", kBurnRates, file.burnBaud) &&
         reader.Setting(*line, "data_bits", kDataBitsOptions, file.dataBits) &&
         reader.Setting(*line, "parity", kParityOptions, file.parity) &&
         reader.Setting(*line, "stop_bits", kStopBitsOptions, file.stopBits);
}

bool ReadUnits(FileReader& reader, const toml::table& top, StationFile& file) {
  const toml::table* table = nullptr;
  if (!reader.Table(top, "units", table) || table == nullptr) {
    return table == nullptr && reader.Problem().empty();
  }
  const std::string section = "[units]";
  constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
  std::optional<int64_t> offset;
  std::optional<int64_t> first;
  std::optional<int64_t> step;
  StationFileUnits units;
  if (!reader.KnownKeysOnly(*table, {"offset", "first", "step", "format", "state"}, section) ||
      !reader.Integer(*table, "offset", section, 0, UINT32_MAX, offset) ||
      !reader.Integer(*table, "first", section, 0, kMost, first) ||
      !reader.Integer(*table, "step", section, 1, kMost, step) ||
      !reader.String(*table, "format", section, units.format) ||
      !reader.String(*table, "state", section, units.state) ||
      !reader.Find(*table, "offset", section, true, "where in the image the number goes") ||
      !reader.Find(*table, "first", section, true, "the first unit number of the series")) {
    return false;
  }
  UnitNumberPlan plan;
  if (!ParseUnitEncoding(units.format, plan)) {
    return reader.Fail(table->get("format")->source(),
                       "format " + units.format +
                           " in [units] is not le32, be32 or dec:WIDTH (ASCII decimal digits)");
  }
  units.offset = static_cast<uint32_t>(*offset);
  units.first = static_cast<uint64_t>(*first);
  units.step = step ? static_cast<uint64_t>(*step) : 1;
  if (!units.state.empty()) {
    units.state = BesideFile(file.path, units.state);
  }
  file.units = units;
  return true;
}

bool ReadPort(FileReader& reader, const toml::table& table, StationFilePort& port) {
  const std::string section = "[[port]]";
  std::optional<int64_t> silence;
  port.board = "operator";
  if (!reader.KnownKeysOnly(table, {"name", "board", "leave_silence_ms"}, section) ||
      !reader.String(table, "name", section, port.name) ||
      !reader.String(table, "board", section, port.board) ||
      !reader.Integer(table, "leave_silence_ms", section, 1, 3600000, silence) ||
      !reader.Find(table, "name", section, true, "a device path or a COM name")) {
    return false;
  }
  if (!BoardSignalOfWord(port.board, port.signal)) {
    std::string words;
    for (const std::string& word : BoardSignalWords()) {
      words += (words.empty() ? "" : ", ") + word;
    }
    return reader.Fail(table.get("board")->source(),
                       "board " + port.board + " in [[port]] is not one of " + words);
  }
  if (silence) {
    if (port.signal.kind != BoardSignal::kChip) {
      return reader.Fail(table.get("leave_silence_ms")->source(),
                         "leave_silence_ms in [[port]] is for board = \"chip\" only");
    }
    port.signal.leaveSilenceMs = static_cast<uint32_t>(*silence);
  }
  return true;
}

bool ReadPorts(FileReader& reader, const toml::table& top, StationFile& file) {
  const toml::node* node = reader.Find(top, "port", "", true, "a [[port]] table for each fixture");
  if (node == nullptr) {
    return false;
  }
  const toml::array* ports = node->as_array();
  if (ports == nullptr || !ports->is_array_of_tables()) {
    return reader.Fail(node->source(), "port must be a list of [[port]] tables, not " +
                                           std::string(TypeName(*node)));
  }
  std::vector<const toml::table*> tables;
  for (const toml::node& each : *ports) {
    const toml::table& table = *each.as_table();
    StationFilePort port;
    if (!ReadPort(reader, table, port)) {
      return false;
    }
    // COM names are the same in any case; so are paths on Windows, where they are told apart
    // by the plan's look at the device behind them.
    for (std::size_t earlier = 0; earlier < file.ports.size(); ++earlier) {
      if (PortNameKey(file.ports[earlier].name) == PortNameKey(port.name)) {
        return reader.Fail(table.get("name")->source(),
                           "port " + port.name + " is already on line " +
                               std::to_string(tables[earlier]->source().begin.line) +
                               ": give each port once");
      }
    }
    tables.push_back(&table);
    file.ports.push_back(port);
  }
  return true;
}

}  // namespace

bool ReadStationFile(const std::string& path, StationFile& file, std::string& problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = "station file " + path + " cannot be opened";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  const toml::parse_result parsed = toml::parse(std::string_view(content), std::string_view(path));
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    problem = "station file " + path + ", line " + std::to_string(error.source().begin.line) +
              ": " + std::string(error.description());
    return false;
  }
  StationFile read;
  read.path = path;
  FileReader reader(path);
  const toml::table& top = parsed.table();
  if (!ReadTop(reader, top, read) || !ReadFiles(reader, top, read) ||
      !ReadLine(reader, top, read) || !ReadUnits(reader, top, read) ||
      !ReadPorts(reader, top, read)) {
    problem = reader.Problem();
    return false;
  }
  file = std::move(read);
  return true;
}

}  // namespace tarvok
