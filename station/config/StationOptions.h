// What a station is opened with, and the one table of its settings: each setting's option,
// its key in the station file, its help and the check its value passes, wherever it is given.
// The command line of `tarvok station`, both station windows and the station file's reader
// all work from this table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "burn/BurnRequest.h"
#include "burn/LineOptions.h"
#include "station/config/StationRefusal.h"
#include "station/core/StationSetup.h"

namespace tarvok {

struct StationOptions {
  std::string stationFile;  // the station file the rest was filled in from, when given
  std::string image;
  std::string expectSha256;  // the image's burned bytes must have this SHA-256, when given
  uint64_t flashBase = 0;    // the bus address the image's file calls flash address 0
  std::string loader;        // empty: the loader built in
  std::string expectLoaderSha256;
  std::string bootStage;  // the boot stage of `loader`; empty: none (the built-in loader's own)
  std::string expectBootStageSha256;
  bool classic = false;  // no boot stage and no flash read-back, whatever the loader declares
  std::string log;
  std::vector<std::string> ports;
  // How a board arrives and leaves on every port; with a station file's signals per port,
  // their words for people ("dsr, chip").
  std::string board = "operator";
  uint64_t leaveSilenceMs = 3000;
  std::vector<BoardSignalChoice> portSignals;  // one per port, or empty: `board` for each
  std::string name;                            // the host's name when empty
  uint64_t count = 0;
  uint64_t maxFailures = 3;
  std::optional<uint64_t> unitOffset;  // unit numbers when given
  std::optional<uint64_t> unitFirst;
  uint64_t unitStep = 1;
  std::string unitFormat = "le32";
  std::string unitState;  // beside the log when empty
  // The line settings' words ("921600", "none", "1.5").
  std::string romBaud = WordOf(kRomRates, BurnLine{}.romRate);
  std::string burnBaud = WordOf(kBurnRates, BurnLine{}.burnRate);
  std::string dataBits = WordOf(kDataBitsOptions, BurnLine{}.dataBits);
  std::string parity = WordOf(kParityOptions, BurnLine{}.parity);
  std::string stopBits = WordOf(kStopBitsOptions, BurnLine{}.stopBits);
  bool json = false;  // the command line's report as one JSON object
  // Where the values came from, by option name ("IMAGE", "--unit-offset"); a value given on
  // the command line has no place.
  std::map<std::string, StationPlace, std::less<>> places;
  std::vector<StationPlace> portPlaces;  // one per port
};

enum class OptionValue : uint8_t {
  kText,        // any text but an empty one
  kPath,        // a file's path; in the station file, from the file's own folder
  kWord,        // one of the option's words
  kNumber,      // a whole number in the option's range
  kOffset,      // an offset into the image: decimal, or hexadecimal as 0x...
  kDigest,      // a SHA-256: 64 hexadecimal digits
  kUnitFormat,  // le32, be32 or dec:WIDTH
  kList,        // the ports: repeated, or several after one option
  kFlag,
};

using StationField =
    std::variant<std::string StationOptions::*, uint64_t StationOptions::*,
                 std::optional<uint64_t> StationOptions::*,
                 std::vector<std::string> StationOptions::*, bool StationOptions::*>;

struct StationOption {
  std::string_view name{};     // "--burn-baud", "IMAGE"; empty: in the station file only
  std::string_view section{};  // the station file's table: "image", "line", "port"; "": the top
  std::string_view key{};      // the station file's key; empty: on the command line only
  std::string_view help{};
  OptionValue value{};
  StationField field{};
  std::vector<std::string> (*words)() = nullptr;  // kWord's words
  bool numberInFile = false;                      // a number in the station file, not a string
  uint64_t least = 0;                             // kNumber's range
  uint64_t most = 0;
  bool inWindows = true;  // the station windows take it too
};

// An option given on the command line that overrides a different value of the station file's.
struct StationOverride {
  const StationOption* option{};
  std::string given{};       // as given ("460800"; the ports joined by ", ")
  std::string fileValue{};   // the file's ("921600")
  std::string fileSha256{};  // the file's digest of the image or loader the option replaced
  std::string port{};        // the port whose file value was overridden (--leave-silence-ms)
};

std::span<const StationOption> StationOptionTable();
// The row of an option ("--burn-baud") or of a station file's key ("line", "burn_baud").
const StationOption& StationOptionNamed(std::string_view name);
const StationOption* StationOptionOfKey(std::string_view section, std::string_view key);

// The check every value passes, from the command line and from the station file alike.
std::optional<ValueFault> FaultOfValue(const StationOption& option, const std::string& text);

// The number a checked kNumber or kOffset value stands for ("0x100" is 256).
std::optional<uint64_t> NumberOfValue(const StationOption& option, const std::string& text);

// Stores a checked value in its field of `options`.
void StoreValue(const StationOption& option, const std::string& text, StationOptions& options);

// The words of a row's choices, for the help and for refusals.
std::string JoinedWords(const std::vector<std::string>& words, std::string_view between);

}  // namespace tarvok
