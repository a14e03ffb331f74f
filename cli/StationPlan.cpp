#include "cli/StationPlan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>

#include "burn/BurnFiles.h"
#include "burn/EmbeddedLoader.h"
#include "cli/BurnPlan.h"
#include "serial/PortDiscovery.h"
#include "station/platform/LowerCase.h"
#include "station/platform/Sha256.h"

namespace tarvok::cli {
namespace {

// "4096" or "0x1000"; false on anything else or above 32 bits.
bool ParseOffset(const std::string& text, uint32_t& offset) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) {
    return false;
  }
  uint64_t value = 0;
  for (const char c : digits) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
    if (digit < 0) {
      return false;
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
  }
  if (value > UINT32_MAX) {
    return false;
  }
  offset = static_cast<uint32_t>(value);
  return true;
}

bool ReadImage(const StationOptions& options, StationSetup& setup, std::ostream& err) {
  auto image = std::make_shared<FlashImage>();
  if (const std::string problem = ReadImageFile(options.burn.image, *image); !problem.empty()) {
    err << "tarvok: image " << options.burn.image << " " << problem << "\n";
    return false;
  }
  setup.imageSha256 = Sha256Hex(image->data.get(), image->size);
  if (!options.expectSha256.empty() && LowerCase(options.expectSha256) != setup.imageSha256) {
    err << "tarvok: image " << options.burn.image << " is not the expected one: its SHA-256 is "
        << setup.imageSha256 << ", not " << LowerCase(options.expectSha256)
        << "; nothing was burned\n";
    return false;
  }
  setup.imagePath = options.burn.image;
  setup.image = std::move(image);
  return true;
}

bool ReadLoader(const StationOptions& options, StationSetup& setup, std::ostream& err) {
  if (options.burn.loaderFile.empty()) {
    setup.loaderSha256 = kEmbeddedLoaderSha256;
    return true;
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  if (const std::string problem = ReadLoaderFile(options.burn.loaderFile, *bytes);
      !problem.empty()) {
    err << "tarvok: loader " << options.burn.loaderFile << " " << problem << "\n";
    return false;
  }
  setup.loaderSha256 = Sha256Hex(bytes->data(), bytes->size());
  if (!options.expectLoaderSha256.empty() &&
      LowerCase(options.expectLoaderSha256) != setup.loaderSha256) {
    err << "tarvok: loader " << options.burn.loaderFile
        << " is not the expected one: its SHA-256 is " << setup.loaderSha256 << ", not "
        << LowerCase(options.expectLoaderSha256) << "; nothing was burned\n";
    return false;
  }
  setup.loader = std::move(bytes);
  return true;
}

bool PlanPorts(const StationOptions& options, StationSetup& setup, std::ostream& err) {
  BoardSignalChoice choice;
  if (options.portSignals.empty() && !BoardSignalOfWord(options.board, choice)) {
    err << "tarvok: --board " << options.board << " is no board signal\n";
    return false;
  }
  choice.leaveSilenceMs = options.leaveSilenceMs;
  std::map<std::string, std::string> nameOfPort;
  for (std::size_t index = 0; index < options.burn.ports.size(); ++index) {
    const std::string& name = options.burn.ports[index];
    const bool isPath = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
    if (!isPath && !IsComName(name)) {
      err << "tarvok: no port " << name
          << ": give a device path or a COM name (see 'tarvok ports')\n";
      return false;
    }
    // A port that is not there now may come later (a board with its own adapter); one that is
    // there is told from the others by its device.
    const std::string device = ResolvePort(name);
    const std::string identity = device.empty() ? PortNameKey(name) : DeviceIdentity(device);
    const auto [earlier, fresh] = nameOfPort.emplace(identity, name);
    if (!fresh) {
      err << "tarvok: " << earlier->second << " and " << name
          << " are the same port: give each port once\n";
      return false;
    }
    setup.ports.push_back(
        {name, options.portSignals.empty() ? choice : options.portSignals.at(index)});
  }
  return true;
}

bool PlanUnits(const StationOptions& options, StationPlan& plan, std::ostream& err) {
  if (options.unitOffset.empty()) {
    if (options.unitFirst) {
      err << "tarvok: --unit-first needs --unit-offset, where the number goes in the image\n";
      return false;
    }
    return true;
  }
  UnitNumberPlan units;
  if (!ParseOffset(options.unitOffset, units.offset)) {
    err << "tarvok: --unit-offset " << options.unitOffset
        << " is not an offset (decimal, or hexadecimal as 0x...)\n";
    return false;
  }
  if (!options.unitFirst) {
    err << "tarvok: --unit-offset needs --unit-first, the first unit number of the series\n";
    return false;
  }
  units.first = *options.unitFirst;
  units.step = options.unitStep;
  if (!ParseUnitEncoding(options.unitFormat, units)) {
    err << "tarvok: --unit-format " << options.unitFormat
        << " is not le32, be32 or dec:WIDTH (ASCII decimal of WIDTH digits)\n";
    return false;
  }
  if (const std::string problem = ProblemWithUnitPlan(units, plan.setup.image->size);
      !problem.empty()) {
    err << "tarvok: unit numbers: " << problem << "; nothing was burned\n";
    return false;
  }
  const std::string statePath =
      options.unitState.empty() ? UnitStatePathBeside(options.log) : options.unitState;
  std::string problem;
  plan.units = UnitNumberStore::Open(statePath, units, problem);
  if (!plan.units) {
    err << "tarvok: unit numbers: " << problem << "; nothing was burned\n";
    return false;
  }
  plan.setup.units = units;
  return true;
}

}  // namespace

bool PlanStation(const StationOptions& options, StationPlan& plan, std::ostream& err) {
  StationSetup& setup = plan.setup;
  if (!ReadImage(options, setup, err) || !ReadLoader(options, setup, err) ||
      !PlanPorts(options, setup, err)) {
    return false;
  }
  setup.name = options.name.empty() ? HostName() : options.name;
  setup.line = LineOfOptions(options.burn);
  setup.failuresToStopPort = options.maxFailures;
  setup.boardsToPass = options.count;
  if (!PlanUnits(options, plan, err)) {
    return false;
  }
  std::string problem;
  plan.ledger = BoardLedger::Open(BoardLedgerPathBeside(options.log), problem);
  if (!plan.ledger) {
    err << "tarvok: log " << options.log << " cannot be used: " << problem << "\n";
    return false;
  }
  plan.log = StationLog::Open(options.log, problem);
  if (!plan.log) {
    err << "tarvok: log " << options.log << ": " << problem << "\n";
    return false;
  }
  return true;
}

}  // namespace tarvok::cli
