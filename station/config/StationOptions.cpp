#include "station/config/StationOptions.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

#include "app/BootStageFile.h"
#include "burn/BurnRequest.h"
#include "burn/ImageFile.h"
#include "burn/LineOptions.h"
#include "burn/NumberWord.h"
#include "station/config/BoardSignalWord.h"
#include "station/records/UnitNumber.h"

namespace tarvok {
namespace {

template <const auto& kChoices>
std::vector<std::string> WordsOf() {
  std::vector<std::string> words;
  for (const auto& choice : kChoices) {
    words.emplace_back(choice.word);
  }
  return words;
}

std::vector<std::string> BoardWords() {
  return BoardSignalWords();
}

constexpr uint64_t kMost = std::numeric_limits<int64_t>::max();  // as TOML's integers go
using S = StationOptions;

// In the order the help lists them.
const std::array<StationOption, 26> kTable = {{
    {.name = "--station",
     .help = "the station file an engineer prepared; options given here override it",
     .value = OptionValue::kPath,
     .field = &S::stationFile},
    {.name = "IMAGE",
     .section = "image",
     .key = "path",
     .help = "the image file, burned from flash address 0",
     .value = OptionValue::kPath,
     .field = &S::image,
     .inWindows = false},
    {.name = "--port",
     .section = "port",
     .key = "name",
     .help = "a device path or a COM name; repeat for each fixture",
     .value = OptionValue::kList,
     .field = &S::ports},
    {.name = "--log",
     .key = "log",
     .help = "append one JSON line per board to this file (kept across restarts)",
     .value = OptionValue::kPath,
     .field = &S::log},
    {.name = "--board",
     .section = "port",
     .key = "board",
     .help = "how a board arrives and leaves: operator (Enter on the terminal, or Next board on "
             "its tile), port (the port appears and disappears), dsr, cts, dcd or ri (a "
             "modem-status input follows the fixture's contact), chip (the chip's own traffic)",
     .value = OptionValue::kWord,
     .field = &S::board,
     .words = BoardWords},
    {.name = "--leave-silence-ms",
     .section = "port",
     .key = "leave_silence_ms",
     .help = "with --board chip: a burned board has left once its line has been quiet this long "
             "after it last spoke",
     .value = OptionValue::kNumber,
     .field = &S::leaveSilenceMs,
     .least = 1,
     .most = 3600000},
    {.name = "--expect-sha256",
     .section = "image",
     .key = "sha256",
     .help = "refuse the image unless the bytes it burns have this SHA-256 ('tarvok image "
             "FILE' prints it)",
     .value = OptionValue::kDigest,
     .field = &S::expectSha256},
    {.name = "--flash-base",
     .section = "image",
     .key = "flash_base",
     .help = kFlashBaseHelp,
     .value = OptionValue::kOffset,
     .field = &S::flashBase,
     .most = UINT32_MAX},
    {.name = "--name",
     .key = "name",
     .help = "the station's name in the log (default: host name)",
     .value = OptionValue::kText,
     .field = &S::name},
    {.name = "--count",
     .help = "end once this many boards have passed (0: no end)",
     .value = OptionValue::kNumber,
     .field = &S::count,
     .most = kMost,
     .inWindows = false},
    {.name = "--max-failures",
     .key = "max_failures",
     .help = "failed boards in a row that stop a port (0: never)",
     .value = OptionValue::kNumber,
     .field = &S::maxFailures,
     .most = 1000000},
    {.name = "--unit-offset",
     .section = "units",
     .key = "offset",
     .help = "write a unit number into each board's image at this offset (0x... for hex)",
     .value = OptionValue::kOffset,
     .field = &S::unitOffset,
     .most = UINT32_MAX},
    {.name = "--unit-first",
     .section = "units",
     .key = "first",
     .help = "the first unit number of the series",
     .value = OptionValue::kNumber,
     .field = &S::unitFirst,
     .most = kMost},
    {.name = "--unit-step",
     .section = "units",
     .key = "step",
     .help = "added for each board",
     .value = OptionValue::kNumber,
     .field = &S::unitStep,
     .least = 1,
     .most = kMost},
    {.name = "--unit-format",
     .section = "units",
     .key = "format",
     .help = "le32, be32 (32-bit little or big end first) or dec:WIDTH (ASCII digits)",
     .value = OptionValue::kUnitFormat,
     .field = &S::unitFormat},
    {.name = "--unit-state",
     .section = "units",
     .key = "state",
     .help = "where the next unit number is kept (default: beside the log)",
     .value = OptionValue::kPath,
     .field = &S::unitState},
    {.name = "--loader",
     .section = "loader",
     .key = "path",
     .help = "download this RAM loader binary instead of the one built in",
     .value = OptionValue::kPath,
     .field = &S::loader},
    {.section = "loader",
     .key = "sha256",
     .value = OptionValue::kDigest,
     .field = &S::expectLoaderSha256},
    {.name = "--boot-stage",
     .section = "loader",
     .key = "boot_stage",
     .help = kBootStageOptionHelp,
     .value = OptionValue::kPath,
     .field = &S::bootStage},
    {.section = "loader",
     .key = "boot_stage_sha256",
     .value = OptionValue::kDigest,
     .field = &S::expectBootStageSha256},
    {.name = "--classic",
     .help = kClassicOptionHelp,
     .value = OptionValue::kFlag,
     .field = &S::classic},
    {.name = "--rom-baud",
     .section = "line",
     .key = "rom_baud",
     .help = "rate of the chip's boot ROM",
     .value = OptionValue::kWord,
     .field = &S::romBaud,
     .words = WordsOf<kRomRates>,
     .numberInFile = true},
    {.name = "--burn-baud",
     .section = "line",
     .key = "burn_baud",
     .help = "rate of the image transfer",
     .value = OptionValue::kWord,
     .field = &S::burnBaud,
     .words = WordsOf<kBurnRates>,
     .numberInFile = true},
    {.name = "--data-bits",
     .section = "line",
     .key = "data_bits",
     .help = "data bits per character",
     .value = OptionValue::kWord,
     .field = &S::dataBits,
     .words = WordsOf<kDataBitsOptions>,
     .numberInFile = true},
    {.name = "--parity",
     .section = "line",
     .key = "parity",
     .help = "parity bit",
     .value = OptionValue::kWord,
     .field = &S::parity,
     .words = WordsOf<kParityOptions>},
    {.name = "--stop-bits",
     .section = "line",
     .key = "stop_bits",
     .help = "stop bits",
     .value = OptionValue::kWord,
     .field = &S::stopBits,
     .words = WordsOf<kStopBitsOptions>},
}};

// The --json flag is the command line's alone and has no key: kept apart from the table's
// station settings so the windows never see it.
const StationOption kJson = {.name = "--json",
                             .help = "print the counts as one JSON object at the end",
                             .value = OptionValue::kFlag,
                             .field = &S::json,
                             .inWindows = false};

}  // namespace

std::span<const StationOption> StationOptionTable() {
  return kTable;
}

const StationOption& StationOptionNamed(std::string_view name) {
  const auto row = std::find_if(kTable.begin(), kTable.end(),
                                [name](const StationOption& each) { return each.name == name; });
  return row == kTable.end() ? kJson : *row;
}

const StationOption* StationOptionOfKey(std::string_view section, std::string_view key) {
  const auto row = std::find_if(kTable.begin(), kTable.end(), [&](const StationOption& each) {
    return !each.key.empty() && each.section == section && each.key == key;
  });
  return row == kTable.end() ? nullptr : &*row;
}

std::optional<ValueFault> FaultOfValue(const StationOption& option, const std::string& text) {
  switch (option.value) {
    case OptionValue::kWord: {
      const std::vector<std::string> words = option.words();
      return std::find(words.begin(), words.end(), text) == words.end()
                 ? std::optional(ValueFault::kNotOneOf)
                 : std::nullopt;
    }
    case OptionValue::kNumber: {
      const std::optional<uint64_t> number = ParseNumberWord(text, false, option.most);
      return !number || *number < option.least ? std::optional(ValueFault::kOutOfRange)
                                               : std::nullopt;
    }
    case OptionValue::kOffset:
      return ParseNumberWord(text, true, option.most)  ? std::nullopt
             : ParseNumberWord(text, true, UINT64_MAX) ? std::optional(ValueFault::kOutOfRange)
                                                       : std::optional(ValueFault::kNotOffset);
    case OptionValue::kDigest:
      return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                              [](unsigned char c) { return std::isxdigit(c); })
                 ? std::nullopt
                 : std::optional(ValueFault::kNotDigest);
    case OptionValue::kUnitFormat: {
      UnitNumberPlan plan;
      return ParseUnitEncoding(text, plan) ? std::nullopt
                                           : std::optional(ValueFault::kNotUnitFormat);
    }
    case OptionValue::kFlag:
      return std::nullopt;
    default:
      return text.empty() ? std::optional(ValueFault::kEmpty) : std::nullopt;
  }
}

std::optional<uint64_t> NumberOfValue(const StationOption& option, const std::string& text) {
  return ParseNumberWord(text, option.value == OptionValue::kOffset, UINT64_MAX);
}

void StoreValue(const StationOption& option, const std::string& text, StationOptions& options) {
  const uint64_t number = NumberOfValue(option, text).value_or(0);
  std::visit(
      [&](auto field) {
        using Field = std::remove_reference_t<decltype(options.*field)>;
        if constexpr (std::is_same_v<Field, std::string>) {
          options.*field = text;
        } else if constexpr (std::is_same_v<Field, std::vector<std::string>>) {
          (options.*field).push_back(text);
        } else if constexpr (std::is_same_v<Field, bool>) {
          options.*field = true;
        } else {
          options.*field = number;
        }
      },
      option.field);
}

std::string JoinedWords(const std::vector<std::string>& words, std::string_view between) {
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "" : std::string(between)) + word;
  }
  return text;
}

}  // namespace tarvok
