#include "cli/StationFileOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

#include "serial/PortDiscovery.h"
#include "station/config/StationFile.h"

namespace tarvok::cli {
namespace {

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "" : ", ") + word;
  }
  return text;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// One setting: the command line's value when it was given (said when it differs from the
// file's), else the file's when it has one.
class Merger {
 public:
  Merger(const std::set<std::string>& given, std::ostream& err) : given_(given), err_(err) {}

  bool Given(const std::string& option) const { return given_.count(option) != 0; }

  void Say(const std::string& option, const std::string& value, const std::string& fileValue) {
    err_ << "tarvok: " << option << " " << value << " overrides the station file's " << fileValue
         << "\n";
  }

  template <typename Value>
  void Take(const std::string& option, Value& value, const std::optional<Value>& fileValue,
            const std::string& shown, const std::string& fileShown) {
    if (!fileValue) {
      return;
    }
    if (!Given(option)) {
      value = *fileValue;
    } else if (value != *fileValue) {
      Say(option, shown, fileShown);
    }
  }

  void Take(const std::string& option, std::string& value, const std::string& fileValue) {
    Take(option, value,
         fileValue.empty() ? std::optional<std::string>() : std::optional<std::string>(fileValue),
         value, fileValue);
  }

 private:
  const std::set<std::string>& given_;
  std::ostream& err_;
};

// The image and the loader, each with the SHA-256 the file expects of it; a file given on the
// command line instead is not checked against the station file's digest.
void TakeFiles(const StationFile& file, Merger& merger, StationOptions& options) {
  if (merger.Given("IMAGE")) {
    if (options.burn.image != file.image) {
      merger.Say("IMAGE", options.burn.image,
                 file.image + " (and its SHA-256 " + file.imageSha256.substr(0, 12) + "...)");
    }
  } else {
    options.burn.image = file.image;
    merger.Take("--expect-sha256", options.expectSha256, file.imageSha256);
  }
  if (file.loader.empty()) {
    return;
  }
  if (merger.Given("--loader")) {
    if (options.burn.loaderFile != file.loader) {
      merger.Say("--loader", options.burn.loaderFile,
                 file.loader + " (and its SHA-256 " + file.loaderSha256.substr(0, 12) + "...)");
    }
  } else {
    options.burn.loaderFile = file.loader;
    options.expectLoaderSha256 = file.loaderSha256;
  }
}

void TakeUnits(const StationFile& file, Merger& merger, StationOptions& options) {
  if (!file.units) {
    return;
  }
  const StationFileUnits& units = *file.units;
  merger.Take("--unit-offset", options.unitOffset, Hex(units.offset));
  const std::optional<uint64_t> first = units.first;
  if (!merger.Given("--unit-first")) {
    options.unitFirst = first;
  } else if (options.unitFirst != first) {
    merger.Say("--unit-first", std::to_string(*options.unitFirst), std::to_string(units.first));
  }
  merger.Take("--unit-step", options.unitStep, std::optional<uint64_t>(units.step),
              std::to_string(options.unitStep), std::to_string(units.step));
  merger.Take("--unit-format", options.unitFormat, units.format);
  merger.Take("--unit-state", options.unitState, units.state);
}

// The ports and how a board arrives and leaves on each: the file's per port, unless the
// command line names its own ports (which keep the file's signal where the file names them
// too) or one --board for all.
void TakePorts(const StationFile& file, Merger& merger, StationOptions& options) {
  std::vector<std::string> fileNames;
  std::vector<std::string> fileBoards;
  for (const StationFilePort& port : file.ports) {
    fileNames.push_back(port.name);
    if (std::find(fileBoards.begin(), fileBoards.end(), port.board) == fileBoards.end()) {
      fileBoards.push_back(port.board);
    }
  }
  if (merger.Given("--port")) {
    if (options.burn.ports != fileNames) {
      merger.Say("--port", Joined(options.burn.ports), "ports " + Joined(fileNames));
    }
  } else {
    options.burn.ports = fileNames;
  }
  if (merger.Given("--board")) {
    if (fileBoards != std::vector<std::string>{options.board}) {
      merger.Say("--board", options.board, "board " + Joined(fileBoards));
    }
    return;
  }
  BoardSignalChoice fallback;
  BoardSignalOfWord(options.board, fallback);
  fallback.leaveSilenceMs = options.leaveSilenceMs;
  std::vector<std::string> words;
  options.portSignals.clear();
  for (const std::string& name : options.burn.ports) {
    const auto inFile = std::find_if(
        file.ports.begin(), file.ports.end(),
        [&](const StationFilePort& p) { return PortNameKey(p.name) == PortNameKey(name); });
    BoardSignalChoice signal = inFile == file.ports.end() ? fallback : inFile->signal;
    const std::string word = inFile == file.ports.end() ? options.board : inFile->board;
    if (merger.Given("--leave-silence-ms") && signal.kind == BoardSignal::kChip &&
        signal.leaveSilenceMs != options.leaveSilenceMs) {
      merger.Say("--leave-silence-ms", std::to_string(options.leaveSilenceMs),
                 std::to_string(signal.leaveSilenceMs) + " on " + name);
      signal.leaveSilenceMs = options.leaveSilenceMs;
    }
    options.portSignals.push_back(signal);
    if (std::find(words.begin(), words.end(), word) == words.end()) {
      words.push_back(word);
    }
  }
  options.board = Joined(words);
}

// --leave-silence-ms given where no port's board is seen by the chip's traffic would change
// nothing: said rather than ignored.
bool SilenceHasAChipPort(const StationOptions& options, const std::set<std::string>& given,
                         std::ostream& err) {
  if (given.count("--leave-silence-ms") == 0) {
    return true;
  }
  bool chip = false;
  if (options.portSignals.empty()) {
    BoardSignalChoice choice;
    chip = BoardSignalOfWord(options.board, choice) && choice.kind == BoardSignal::kChip;
  }
  for (const BoardSignalChoice& signal : options.portSignals) {
    chip = chip || signal.kind == BoardSignal::kChip;
  }
  if (!chip) {
    err << "tarvok: --leave-silence-ms is for --board chip; with --board " << options.board
        << " a board's leaving is seen without it\n";
  }
  return chip;
}

bool MergeStationFile(StationOptions& options, const std::set<std::string>& given,
                      std::ostream& err) {
  if (options.stationFile.empty()) {
    for (const char* needed : {"IMAGE", "--port", "--log"}) {
      if (given.count(needed) == 0) {
        err << "tarvok: " << needed
            << " is required without a station file (see 'tarvok station --help')\n";
        return false;
      }
    }
    return true;
  }
  StationFile file;
  std::string problem;
  if (!ReadStationFile(options.stationFile, file, problem)) {
    err << "tarvok: " << problem << "; nothing was burned\n";
    return false;
  }
  Merger merger(given, err);
  TakeFiles(file, merger, options);
  merger.Take("--log", options.log, file.log);
  merger.Take("--name", options.name, file.name);
  merger.Take("--max-failures", options.maxFailures, file.maxFailures,
              std::to_string(options.maxFailures),
              file.maxFailures ? std::to_string(*file.maxFailures) : "");
  BurnOptions& burn = options.burn;
  merger.Take("--rom-baud", burn.romBaud, file.romBaud);
  merger.Take("--burn-baud", burn.burnBaud, file.burnBaud);
  merger.Take("--data-bits", burn.dataBits, file.dataBits);
  merger.Take("--parity", burn.parity, file.parity);
  merger.Take("--stop-bits", burn.stopBits, file.stopBits);
  TakeUnits(file, merger, options);
  TakePorts(file, merger, options);
  return true;
}

}  // namespace

bool CompleteStationOptions(StationOptions& options, const std::set<std::string>& given,
                            std::ostream& err) {
  return MergeStationFile(options, given, err) && SilenceHasAChipPort(options, given, err);
}

void TakeFileArgument(const std::string& file, StationOptions& options,
                      std::set<std::string>& given) {
  if (file.empty()) {
    return;
  }
  if (options.stationFile.empty() && options.burn.ports.empty() && options.log.empty()) {
    options.stationFile = file;
    return;
  }
  options.burn.image = file;
  given.insert("IMAGE");
}

}  // namespace tarvok::cli
