#include "station/config/StationArguments.h"
#include "serial/PortDiscovery.h"

#include <algorithm>

#include "station/config/BoardSignalWord.h"
#include "station/config/StationFile.h"
#include "station/platform/LowerCase.h"

namespace tarvok {
namespace {

// The default a row's field holds, for the help; empty where there is none to show.
std::string DefaultText(const StationOption& option) {
  const StationOptions defaults;
  return std::visit(
      [&](auto field) {
        using Field = std::remove_cvref_t<decltype(defaults.*field)>;
        if constexpr (std::is_same_v<Field, std::string>) {
          return defaults.*field;
        } else if constexpr (std::is_same_v<Field, uint64_t>) {
          return std::to_string(defaults.*field);
        } else {
          return std::string();
        }
      },
      option.field);
}

// "TEXT:{9600,115200}" for a word, as the shell's completion reads it from the help.
std::string TypeName(const StationOption& option) {
  switch (option.value) {
    case OptionValue::kWord:
      return "TEXT:{" + JoinedWords(option.words(), ",") + "}";
    case OptionValue::kNumber:
    case OptionValue::kOffset:
      return "UINT";
    default:
      return "TEXT";
  }
}

void AddOption(CLI::App& app, const StationOption& option, StationArguments& arguments) {
  const std::string name(option.name);
  if (option.value == OptionValue::kFlag) {
    app.add_flag_callback(
        name, [&arguments, &option] { arguments.given.emplace_back(&option, ""); },
        std::string(option.help));
    return;
  }
  if (option.value == OptionValue::kList) {
    app.add_option_function<std::vector<std::string>>(
           name,
           [&arguments, &option](const std::vector<std::string>& texts) {
             for (const std::string& text : texts) {
               arguments.given.emplace_back(&option, text);
             }
           },
           std::string(option.help))
        ->take_all();
    return;
  }
  CLI::Option* added = app.add_option_function<std::string>(
      name,
      [&arguments, &option](const std::string& text) {
        arguments.given.emplace_back(&option, text);
      },
      std::string(option.help));
  added->type_name(TypeName(option));
  if (const std::string shown = DefaultText(option); !shown.empty()) {
    added->default_str(shown);
  }
}

StationPlace& PlaceFor(StationOptions& options, std::string_view name) {
  return options.places[std::string(name)];
}

// The windows' FILE is the station file when nothing else names the station, else the image.
StationArguments Resolved(const StationArguments& arguments) {
  StationArguments resolved{arguments.given, ""};
  if (!arguments.file.empty()) {
    const bool station =
        arguments.Gave("--station") || arguments.Gave("--port") || arguments.Gave("--log");
    resolved.given.emplace_back(&StationOptionNamed(station ? "IMAGE" : "--station"),
                                arguments.file);
  }
  return resolved;
}

// The command line's values, checked and stored.
std::optional<StationRefusal> TakeGiven(const StationArguments& arguments,
                                        StationOptions& options) {
  for (const auto& [option, text] : arguments.given) {
    if (const std::optional<ValueFault> fault = FaultOfValue(*option, text)) {
      return StationRefusal{.kind = StationRefusalKind::kBadValue,
                            .option = option,
                            .fault = *fault,
                            .name = std::string(option->name),
                            .value = text};
    }
    StoreValue(*option, text, options);
  }
  options.portPlaces.assign(options.ports.size(), StationPlace{});
  return std::nullopt;
}

class Merger {
 public:
  Merger(const StationArguments& arguments, const StationFile& file, StationOptions& options,
         std::vector<StationOverride>& overrides)
      : arguments_(arguments), file_(file), options_(options), overrides_(overrides) {}

  bool Gave(std::string_view option) const { return arguments_.Gave(option); }

  // The file's value of a row, unless the command line gave its own (said when different).
  void Take(const StationFileValue& value) {
    const StationOption& option = *value.option;
    const std::string& given = GivenText(option);
    if (!Gave(option.name)) {
      StoreValue(option, value.text, options_);
      PlaceFor(options_, option.name) = value.place;
    } else if (!Same(option, given, value.text)) {
      overrides_.push_back({&option, given, value.text, "", ""});
    }
  }

  // The image, the loader or its boot stage, with the SHA-256 the file expects of it; a file given
  // on the command line instead is not checked against the file's digest.
  void TakeDigested(std::string_view option, std::string_view section,
                    std::string_view pathKey = "path", std::string_view digestKey = "sha256") {
    const StationFileValue* path = file_.Find(section, pathKey);
    const StationFileValue* digest = file_.Find(section, digestKey);
    if (path == nullptr || digest == nullptr) {
      return;
    }
    if (!Gave(option)) {
      Take(*path);
      Take(*digest);
    } else if (GivenText(*path->option) != path->text) {
      overrides_.push_back(
          {path->option, GivenText(*path->option), path->text, LowerCase(digest->text), ""});
    }
  }

  void TakePorts();

 private:
  const std::string& GivenText(const StationOption& option) const {
    static const std::string kNone;
    const auto it = std::find_if(arguments_.given.rbegin(), arguments_.given.rend(),
                                 [&](const auto& each) { return each.first == &option; });
    return it == arguments_.given.rend() ? kNone : it->second;
  }

  static bool Same(const StationOption& option, const std::string& a, const std::string& b) {
    const std::optional<uint64_t> x = NumberOfValue(option, a);
    const std::optional<uint64_t> y = NumberOfValue(option, b);
    return x && y ? *x == *y : a == b;
  }

  const StationArguments& arguments_;
  const StationFile& file_;
  StationOptions& options_;
  std::vector<StationOverride>& overrides_;
};

void AddWord(std::vector<std::string>& words, const std::string& word) {
  if (std::find(words.begin(), words.end(), word) == words.end()) {
    words.push_back(word);
  }
}

// The ports and how a board arrives and leaves on each: the file's per port, unless the
// command line names its own ports (which keep the file's signal where the file names them
// too) or one --board for all.
void Merger::TakePorts() {
  std::vector<std::string> fileNames;
  std::vector<std::string> fileBoards;
  for (const StationFilePort& port : file_.ports) {
    fileNames.push_back(port.name);
    AddWord(fileBoards, port.board);
  }
  const StationOption& portOption = StationOptionNamed("--port");
  if (Gave("--port")) {
    if (options_.ports != fileNames) {
      overrides_.push_back(
          {&portOption, JoinedWords(options_.ports, ", "), JoinedWords(fileNames, ", "), "", ""});
    }
  } else {
    options_.ports = fileNames;
    options_.portPlaces.clear();
    for (const StationFilePort& port : file_.ports) {
      options_.portPlaces.push_back(port.place);
    }
  }
  if (Gave("--board")) {
    if (fileBoards != std::vector<std::string>{options_.board}) {
      overrides_.push_back(
          {&StationOptionNamed("--board"), options_.board, JoinedWords(fileBoards, ", "), "", ""});
    }
    return;
  }
  BoardSignalChoice fallback;
  BoardSignalOfWord(options_.board, fallback);
  fallback.leaveSilenceMs = static_cast<uint32_t>(options_.leaveSilenceMs);
  std::vector<std::string> words;
  options_.portSignals.clear();
  for (const std::string& name : options_.ports) {
    const auto inFile = std::find_if(
        file_.ports.begin(), file_.ports.end(),
        [&](const StationFilePort& p) { return PortNameKey(p.name) == PortNameKey(name); });
    BoardSignalChoice signal = inFile == file_.ports.end() ? fallback : inFile->signal;
    AddWord(words, inFile == file_.ports.end() ? options_.board : inFile->board);
    if (Gave("--leave-silence-ms") && signal.kind == BoardSignal::kChip &&
        signal.leaveSilenceMs != options_.leaveSilenceMs) {
      overrides_.push_back({&StationOptionNamed("--leave-silence-ms"),
                            std::to_string(options_.leaveSilenceMs),
                            std::to_string(signal.leaveSilenceMs), "", name});
      signal.leaveSilenceMs = static_cast<uint32_t>(options_.leaveSilenceMs);
    }
    options_.portSignals.push_back(signal);
  }
  options_.board = JoinedWords(words, ", ");
}

// --leave-silence-ms given where no port's board is seen by the chip's traffic would change
// nothing: refused rather than ignored.
bool SilenceHasAChipPort(const StationArguments& arguments, const StationOptions& options) {
  if (!arguments.Gave("--leave-silence-ms")) {
    return true;
  }
  BoardSignalChoice choice;
  bool chip = options.portSignals.empty() && BoardSignalOfWord(options.board, choice) &&
              choice.kind == BoardSignal::kChip;
  for (const BoardSignalChoice& signal : options.portSignals) {
    chip = chip || signal.kind == BoardSignal::kChip;
  }
  return chip;
}

std::optional<StationRefusal> MergeStationFile(const StationArguments& arguments,
                                               StationOptions& options,
                                               std::vector<StationOverride>& overrides) {
  StationFile file;
  if (std::optional<StationRefusal> refusal = ReadStationFile(options.stationFile, file)) {
    return refusal;
  }
  Merger merger(arguments, file, options, overrides);
  merger.TakeDigested("IMAGE", "image");
  merger.TakeDigested("--loader", "loader");
  merger.TakeDigested("--boot-stage", "loader", "boot_stage", "boot_stage_sha256");
  // The image's flash base goes with the file's image: one named on the command line instead
  // takes the command line's base.
  const StationOption* flashBase = &StationOptionNamed("--flash-base");
  for (const StationFileValue& value : file.values) {
    const bool pinned = value.option->section == "image" || value.option->section == "loader";
    if (value.option == flashBase ? !arguments.Gave("IMAGE") : !pinned) {
      merger.Take(value);
    }
  }
  merger.TakePorts();
  return std::nullopt;
}

}  // namespace

bool StationArguments::Gave(std::string_view option) const {
  return std::any_of(given.begin(), given.end(),
                     [option](const auto& each) { return each.first->name == option; });
}

void AddStationOptions(CLI::App& app, StationFront front, StationArguments& arguments) {
  if (front == StationFront::kWindow) {
    app.add_option("FILE", arguments.file,
                   "the station file an engineer prepared (options given here override it), or "
                   "the image file with --port and --log");
  }
  for (const StationOption& option : StationOptionTable()) {
    if (!option.name.empty() && (front == StationFront::kCommandLine || option.inWindows)) {
      AddOption(app, option, arguments);
    }
  }
  if (front == StationFront::kCommandLine) {
    AddOption(app, StationOptionNamed("--json"), arguments);
  }
}

std::optional<StationRefusal> CompleteStationOptions(const StationArguments& given,
                                                     StationOptions& options,
                                                     std::vector<StationOverride>& overrides) {
  const StationArguments arguments = Resolved(given);
  if (std::optional<StationRefusal> refusal = TakeGiven(arguments, options)) {
    return refusal;
  }
  if (options.stationFile.empty()) {
    for (const char* needed : {"IMAGE", "--port", "--log"}) {
      if (!arguments.Gave(needed)) {
        return StationRefusal{.kind = StationRefusalKind::kMissingOption,
                              .option = &StationOptionNamed(needed),
                              .name = needed};
      }
    }
  } else if (std::optional<StationRefusal> refusal =
                 MergeStationFile(arguments, options, overrides)) {
    return refusal;
  }
  if (!SilenceHasAChipPort(arguments, options)) {
    return StationRefusal{.kind = StationRefusalKind::kSilenceWithoutChip,
                          .option = &StationOptionNamed("--leave-silence-ms"),
                          .name = "--leave-silence-ms",
                          .value = options.board};
  }
  return std::nullopt;
}

}  // namespace tarvok
