#include "cli/StationRefusalText.h"

#include "station/config/StationOptions.h"
#include "station/panel/StationPanelText.h"

namespace tarvok::cli {
namespace {

std::string TypeWords(const std::string& token) {
  return token == "string"    ? "a string"
         : token == "integer" ? "an integer"
         : token == "float"   ? "a number with a fraction"
         : token == "boolean" ? "true or false"
         : token == "table"   ? "a table"
         : token == "tables"  ? "a list of tables"
         : token == "array"   ? "a list"
                              : "a date or time";
}

std::string SectionWords(const std::string& section) {
  return section.empty() ? "" : section == "port" ? " in [[port]]" : " in [" + section + "]";
}

// "station file line3.toml, line 12: " for a value from a station file; empty for one from
// the command line.
std::string PlaceWords(const StationPlace& place) {
  if (place.file.empty()) {
    return "";
  }
  return "station file " + place.file +
         (place.line > 0 ? ", line " + std::to_string(place.line) : "") + ": ";
}

// A value of the station file that fails its option's check.
std::string FileValueWords(const StationRefusal& refusal) {
  const StationOption& option = *refusal.option;
  const std::string key = refusal.name + SectionWords(refusal.section);
  const std::string keyValue = refusal.name + " " + refusal.value + SectionWords(refusal.section);
  switch (refusal.fault) {
    case ValueFault::kWrongType:
      return key + " must be " + TypeWords(refusal.expected) + ", not " + TypeWords(refusal.actual);
    case ValueFault::kEmpty:
      return key + " is empty";
    case ValueFault::kNotOneOf:
      return keyValue + " is not one of " + JoinedWords(option.words(), ", ");
    case ValueFault::kOutOfRange:
      return keyValue + " is out of range: " + std::to_string(option.least) + " to " +
             std::to_string(option.most);
    case ValueFault::kNotOffset:
      return keyValue + " is not an offset";
    case ValueFault::kNotDigest:
      return key + " is not 64 hexadecimal digits";
    case ValueFault::kNotUnitFormat:
      return keyValue + " is not le32, be32 or dec:WIDTH (ASCII decimal digits)";
    case ValueFault::kChipOnly:
      return key + " is for board = \"chip\" only";
  }
  return key;
}

// A value of the command line that fails its option's check.
std::string OptionValueWords(const StationRefusal& refusal) {
  const StationOption& option = *refusal.option;
  const std::string given = refusal.name + " " + refusal.value;
  switch (refusal.fault) {
    case ValueFault::kNotOneOf:
      return refusal.name + ": " + refusal.value + " not in {" + JoinedWords(option.words(), ",") +
             "}";
    case ValueFault::kOutOfRange:
      return given + " is not a whole number from " + std::to_string(option.least) + " to " +
             std::to_string(option.most);
    case ValueFault::kNotOffset:
      return given + " is not an offset (decimal, or hexadecimal as 0x...)";
    case ValueFault::kNotDigest:
      return given + " is not a SHA-256 (64 hexadecimal digits)";
    case ValueFault::kNotUnitFormat:
      return given + " is not le32, be32 or dec:WIDTH (ASCII decimal of WIDTH digits)";
    default:
      return refusal.name + ": an empty name";
  }
}

std::string ValueWords(const StationRefusal& refusal) {
  if (refusal.option == nullptr) {  // a table where none is
    return refusal.name + " must be " + TypeWords(refusal.expected) + ", not " +
           TypeWords(refusal.actual);
  }
  return refusal.place.file.empty() ? OptionValueWords(refusal) : FileValueWords(refusal);
}

// What a key the station file lacks holds.
std::string MissingKeyWords(const StationRefusal& refusal) {
  const std::string& key = refusal.name;
  const std::string& section = refusal.section;
  return key == "log"                 ? "the log's path"
         : key == "image"             ? "a table with the image's path and sha256"
         : key == "port"              ? "a [[port]] table for each fixture"
         : key == "name"              ? "a device path or a COM name"
         : key == "path"              ? "the file's path"
         : key == "offset"            ? "where in the image the number goes"
         : key == "first"             ? "the first unit number of the series"
         : section == "image"         ? "the image's expected SHA-256"
         : key == "boot_stage_sha256" ? "the boot stage's expected SHA-256"
                                      : "the loader's expected SHA-256";
}

// The refusals of the files and the ports the station names: a missing port points at
// `tarvok ports`; the rest are worded as in the windows.
std::string OpeningWords(const StationRefusal& refusal) {
  if (refusal.kind == StationRefusalKind::kNoSuchPort) {
    return "no port " + refusal.value + ": give a device path or a COM name (see 'tarvok ports')";
  }
  return StationOpeningWords(refusal);
}

}  // namespace

std::string StationRefusalText(const StationRefusal& refusal) {
  const std::string place = PlaceWords(refusal.place);
  switch (refusal.kind) {
    case StationRefusalKind::kStationFileUnreadable:
      return "station file " + refusal.place.file + " cannot be opened";
    case StationRefusalKind::kStationFileNotToml:
      return place + refusal.detail;
    case StationRefusalKind::kUnknownKey:
      return place + "unknown key \"" + refusal.name + "\"" + SectionWords(refusal.section) +
             " (known: " + refusal.expected + ")";
    case StationRefusalKind::kMissingKey:
      return "station file " + refusal.place.file + ": " +
             (refusal.section.empty() ? "" : SectionWords(refusal.section).substr(4) + " ") +
             "needs " + refusal.name + " (" + MissingKeyWords(refusal) + ")";
    case StationRefusalKind::kBadValue:
      return place + ValueWords(refusal);
    case StationRefusalKind::kMissingOption:
      return refusal.name + " is required without a station file (see 'tarvok station --help')";
    case StationRefusalKind::kOptionNeedsOption:
      return place + refusal.name + " needs " + refusal.other +
             (refusal.other == "--unit-offset" ? ", where the number goes in the image"
              : refusal.other == "--loader"    ? ": the built-in loader brings its own boot stage"
                                               : ", the first unit number of the series");
    case StationRefusalKind::kOptionExcludesOption:
      return place + refusal.name + " excludes " + refusal.other + ": the stage would not be used";
    case StationRefusalKind::kSilenceWithoutChip:
      return "--leave-silence-ms is for --board chip; with --board " + refusal.value +
             " a board's leaving is seen without it";
    default:
      return place + OpeningWords(refusal);
  }
}

std::string StationOverrideText(const StationOverride& override) {
  const std::string name(override.option->name);
  std::string file = override.fileValue;
  if (!override.fileSha256.empty()) {
    file += " (and its SHA-256 " + override.fileSha256.substr(0, 12) + "...)";
  } else if (name == "--port") {
    file = "ports " + file;
  } else if (name == "--board") {
    file = "board " + file;
  } else if (!override.port.empty()) {
    file += " on " + override.port;
  }
  return name + " " + override.given + " overrides the station file's " + file;
}

}  // namespace tarvok::cli
