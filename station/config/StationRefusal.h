// Why a station was not opened, as a type: each front end puts it into its own words.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tarvok {

struct StationOption;

// Where a value came from: a station file and the line in it, or the command line (no file).
struct StationPlace {
  // A constructor of its own, not an aggregate's: a refusal that leaves its place out is then
  // seen as initialized by every compiler's uninitialized-use analysis.
  StationPlace(std::string inFile = {}, int atLine = 0) : file(std::move(inFile)), line(atLine) {}
  std::string file;
  int line;
};

enum class StationRefusalKind : uint8_t {
  kStationFileUnreadable,  // place.file cannot be opened
  kStationFileNotToml,     // at place; detail: the TOML parser's own words
  kUnknownKey,             // `name` in `section` at place; `expected`: the section's known keys
  kMissingKey,             // `name` missing in `section` of place.file
  kBadValue,               // `option` given `value` at place, which `fault` says is wrong
  kMissingOption,          // `option` is required without a station file
  kOptionNeedsOption,      // `option` was given without `other` (`value`: the option's name)
  kOptionExcludesOption,   // `option` (`name`) was given with `other`, which leaves it unused
  kSilenceWithoutChip,     // --leave-silence-ms given where no port's board is seen by the chip
  kNoSuchPort,             // `value` (at place) is no device path or COM name
  kSamePort,               // `other` and `value` (at place) name one port
  kUnusablePort,           // `value` (at place) cannot burn with the line: detail says why
  kImageUnreadable,        // `value` (at place): detail is the file's problem
  kWrongImage,             // `value` (at place) has SHA-256 `actual`, not `expected`
  kLoaderUnreadable,       // as the image's
  kWrongLoader,            // as the image's
  kBootStageUnreadable,    // as the image's
  kWrongBootStage,         // as the image's
  kUnitNumbers,            // unit numbers (at place): detail is the plan's or state file's problem
  kLogFolderMissing,       // the log `value`'s folder `other` does not exist
  kLogUnusable,            // the log `value`: detail is its problem
};

// What is wrong with a value.
enum class ValueFault : uint8_t {
  kWrongType,   // a TOML value of type `actual` where the option's type belongs
  kEmpty,       // an empty text
  kNotOneOf,    // not one of the option's words
  kOutOfRange,  // a number outside the option's range (or no number at all)
  kNotOffset,   // no decimal or 0x hexadecimal offset
  kNotDigest,   // not 64 hexadecimal digits
  kNotUnitFormat,
  kChipOnly,  // leave_silence_ms on a port whose board is not seen by the chip
};

struct StationRefusal {
  StationRefusalKind kind{};
  StationPlace place{};
  int otherLine = 0;  // the line of the station file the other port is on (kSamePort)
  const StationOption* option = nullptr;  // the option concerned, where there is one
  ValueFault fault = ValueFault::kEmpty;
  std::string name{};      // the option ("--burn-baud") or the station file's key ("burn_baud")
  std::string section{};   // the station file's table ("line", "port"); empty: the top
  std::string value{};     // the value, path or port concerned
  std::string other{};     // the other port, the option needed, the log's folder
  std::string expected{};  // the digest expected; what a missing key holds; the known keys
  std::string actual{};    // the digest found, or the TOML type found
  std::string detail{};    // a lower layer's own words, where the refusal passes them on
};

}  // namespace tarvok
