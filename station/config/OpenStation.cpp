#include "station/config/OpenStation.h"
#include "serial/PortDiscovery.h"

#include <filesystem>
#include <map>

#include "app/BootStageFile.h"
#include "app/ImageText.h"
#include "app/PortIdentity.h"
#include "burn/BurnFiles.h"
#include "burn/EmbeddedLoader.h"
#include "burn/LineOptions.h"
#include "station/config/BoardSignalWord.h"
#include "station/platform/LowerCase.h"
#include "station/platform/Sha256.h"
#include "station/records/UnitRecord.h"

namespace tarvok {
namespace {

using Refusal = std::optional<StationRefusal>;

StationPlace PlaceOf(const StationOptions& options, const std::string& option) {
  const auto place = options.places.find(option);
  return place == options.places.end() ? StationPlace{} : place->second;
}

// The file at `path` read by `read`, and its SHA-256 checked against `expected` when given.
template <typename Bytes, typename Read>
Refusal ReadDigested(const std::string& path, const std::string& expected, StationPlace place,
                     Read read, Bytes& bytes, std::string& sha256, StationRefusalKind unreadable,
                     StationRefusalKind wrong) {
  if (const std::string problem = read(path, bytes); !problem.empty()) {
    return StationRefusal{.kind = unreadable, .place = place, .value = path, .detail = problem};
  }
  if (!expected.empty() && LowerCase(expected) != sha256) {
    return StationRefusal{.kind = wrong,
                          .place = place,
                          .value = path,
                          .expected = LowerCase(expected),
                          .actual = sha256};
  }
  return std::nullopt;
}

// The boot stage named with the loader; the built-in loader brings its own, and --classic
// would leave it unused.
Refusal ReadBootStage(const StationOptions& options, StationSetup& setup) {
  setup.classic = options.classic;
  if (options.bootStage.empty()) {
    return std::nullopt;
  }
  const StationOption& stage = StationOptionNamed("--boot-stage");
  const StationPlace place = PlaceOf(options, "--boot-stage");
  if (options.loader.empty()) {
    return StationRefusal{.kind = StationRefusalKind::kOptionNeedsOption,
                          .place = place,
                          .option = &stage,
                          .name = "--boot-stage",
                          .other = "--loader"};
  }
  if (options.classic) {
    return StationRefusal{.kind = StationRefusalKind::kOptionExcludesOption,
                          .place = place,
                          .option = &stage,
                          .name = "--boot-stage",
                          .other = "--classic"};
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  const auto read = [&setup](const std::string& path, std::vector<uint8_t>& into) {
    std::string problem = ReadBootStageFile(path, into);
    setup.bootStageSha256 = problem.empty() ? Sha256Hex(into.data(), into.size()) : "";
    return problem;
  };
  if (Refusal refusal =
          ReadDigested(options.bootStage, options.expectBootStageSha256, place, read, *bytes,
                       setup.bootStageSha256, StationRefusalKind::kBootStageUnreadable,
                       StationRefusalKind::kWrongBootStage)) {
    return refusal;
  }
  setup.bootStage = std::move(bytes);
  return std::nullopt;
}

Refusal ReadFiles(const StationOptions& options, StationSetup& setup) {
  auto image = std::make_shared<FlashImage>();
  const auto readImage = [&setup](const std::string& path, FlashImage& into) {
    std::string problem = ImageProblemText(ReadImage(path, ImageReadOptions{}, into));
    setup.imageSha256 = problem.empty() ? Sha256Hex(into.data.get(), into.size) : "";
    return problem;
  };
  if (Refusal refusal =
          ReadDigested(options.image, options.expectSha256, PlaceOf(options, "IMAGE"), readImage,
                       *image, setup.imageSha256, StationRefusalKind::kImageUnreadable,
                       StationRefusalKind::kWrongImage)) {
    return refusal;
  }
  setup.imagePath = options.image;
  setup.image = std::move(image);
  if (options.loader.empty()) {
    setup.loaderSha256 = kEmbeddedLoaderSha256;
    return ReadBootStage(options, setup);
  }
  auto loader = std::make_shared<std::vector<uint8_t>>();
  const auto readLoader = [&setup](const std::string& path, std::vector<uint8_t>& into) {
    std::string problem = ReadLoaderFile(path, into);
    setup.loaderSha256 = problem.empty() ? Sha256Hex(into.data(), into.size()) : "";
    return problem;
  };
  if (Refusal refusal =
          ReadDigested(options.loader, options.expectLoaderSha256, PlaceOf(options, "--loader"),
                       readLoader, *loader, setup.loaderSha256,
                       StationRefusalKind::kLoaderUnreadable, StationRefusalKind::kWrongLoader)) {
    return refusal;
  }
  setup.loader = std::move(loader);
  return ReadBootStage(options, setup);
}

Refusal OpenPorts(const StationOptions& options, StationSetup& setup) {
  BoardSignalChoice choice;
  BoardSignalOfWord(options.board, choice);  // one word unless there are signals per port
  choice.leaveSilenceMs = static_cast<uint32_t>(options.leaveSilenceMs);
  std::map<std::string, std::size_t> portOfIdentity;
  for (std::size_t index = 0; index < options.ports.size(); ++index) {
    const std::string& name = options.ports[index];
    const StationPlace place =
        index < options.portPlaces.size() ? options.portPlaces[index] : StationPlace{};
    const bool isPath = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
    if (!isPath && !IsComName(name)) {
      return StationRefusal{.kind = StationRefusalKind::kNoSuchPort, .place = place, .value = name};
    }
    // A port that is not there now may come later (a board with its own adapter); one that is
    // there is told from the others by its device.
    const std::string device = ResolvePort(name);
    if (std::string problem = ProblemWithNetworkPort(device, setup.line); !problem.empty()) {
      return StationRefusal{.kind = StationRefusalKind::kUnusablePort,
                            .place = place,
                            .value = name,
                            .detail = std::move(problem)};
    }
    const std::string identity = device.empty() ? PortNameKey(name) : DeviceIdentity(device);
    const auto [earlier, fresh] = portOfIdentity.emplace(identity, index);
    if (!fresh) {
      const std::size_t first = earlier->second;
      return StationRefusal{
          .kind = StationRefusalKind::kSamePort,
          .place = place,
          .otherLine = first < options.portPlaces.size() ? options.portPlaces[first].line : 0,
          .value = name,
          .other = options.ports[first]};
    }
    setup.ports.push_back(
        {name, options.portSignals.empty() ? choice : options.portSignals.at(index)});
  }
  return std::nullopt;
}

Refusal OpenUnits(const StationOptions& options, StationParts& parts) {
  const StationOption& offset = StationOptionNamed("--unit-offset");
  const StationOption& first = StationOptionNamed("--unit-first");
  if (!options.unitOffset || !options.unitFirst) {
    if (!options.unitOffset && !options.unitFirst) {
      return std::nullopt;
    }
    return StationRefusal{.kind = StationRefusalKind::kOptionNeedsOption,
                          .option = options.unitOffset ? &offset : &first,
                          .name = std::string(options.unitOffset ? offset.name : first.name),
                          .other = std::string(options.unitOffset ? first.name : offset.name)};
  }
  UnitNumberPlan units;
  units.offset = static_cast<uint32_t>(*options.unitOffset);
  units.first = *options.unitFirst;
  units.step = options.unitStep;
  ParseUnitEncoding(options.unitFormat, units);  // the format has passed the table's check
  const StationPlace place = PlaceOf(options, "--unit-offset");
  if (std::string problem = ProblemWithUnitPlan(units, parts.setup.image->size); !problem.empty()) {
    return StationRefusal{
        .kind = StationRefusalKind::kUnitNumbers, .place = place, .detail = std::move(problem)};
  }
  const std::string statePath =
      options.unitState.empty() ? UnitStatePathBeside(options.log) : options.unitState;
  std::string problem;
  parts.units = UnitNumberStore::Open(statePath, units, problem);
  if (!parts.units) {
    return StationRefusal{
        .kind = StationRefusalKind::kUnitNumbers, .place = place, .detail = std::move(problem)};
  }
  parts.setup.units = units;
  return std::nullopt;
}

// The log's folder is looked at first: the unit numbers' state and the ledger live beside the
// log by default, and a missing folder is the log's fault, not theirs.
Refusal OpenLogFolder(const StationOptions& options) {
  const std::filesystem::path folder = std::filesystem::path(options.log).parent_path();
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) {
    return std::nullopt;
  }
  return StationRefusal{.kind = StationRefusalKind::kLogFolderMissing,
                        .place = PlaceOf(options, "--log"),
                        .value = options.log,
                        .other = folder.string()};
}

Refusal OpenLog(const StationOptions& options, StationParts& parts) {
  std::string problem;
  parts.ledger = BoardLedger::Open(BoardLedgerPathBeside(options.log), problem);
  if (parts.ledger) {
    parts.log = StationLog::Open(options.log, problem);
  }
  if (!parts.log) {
    return StationRefusal{.kind = StationRefusalKind::kLogUnusable,
                          .place = PlaceOf(options, "--log"),
                          .value = options.log,
                          .detail = problem};
  }
  return std::nullopt;
}

BurnLine LineOfWords(const StationOptions& options) {
  return BurnLineOfWords(options.romBaud, options.burnBaud, options.dataBits, options.parity,
                         options.stopBits);
}

}  // namespace

std::optional<StationRefusal> OpenStation(const StationOptions& options, StationParts& parts) {
  StationSetup& setup = parts.setup;
  if (Refusal refusal = ReadFiles(options, setup)) {
    return refusal;
  }
  setup.line = LineOfWords(options);
  if (Refusal refusal = OpenPorts(options, setup)) {
    return refusal;
  }
  setup.name = options.name.empty() ? HostName() : options.name;
  setup.failuresToStopPort = static_cast<uint32_t>(options.maxFailures);
  setup.boardsToPass = options.count;
  if (Refusal refusal = OpenLogFolder(options)) {
    return refusal;
  }
  if (Refusal refusal = OpenUnits(options, parts)) {
    return refusal;
  }
  return OpenLog(options, parts);
}

}  // namespace tarvok
