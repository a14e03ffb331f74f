#include "cli/StationWindowOptions.h"

#include <ostream>
#include <set>
#include <sstream>

#include "cli/StationFileOptions.h"

namespace tarvok::cli {

void AddStationWindowOptions(CLI::App& app, StationOptions& options, std::string& file) {
  BurnOptions& burn = options.burn;
  app.add_option("FILE", file,
                 "the station file an engineer prepared (options given here override it), or "
                 "the image file with --port and --log");
  app.add_option("--station", options.stationFile, "the station file an engineer prepared");
  app.add_option("--port", burn.ports, "a device path or a COM name; repeat for each fixture")
      ->take_all();
  app.add_option("--log", options.log, "append one JSON line per board to this file");
  app.add_option("--board", options.board,
                 "how a board arrives and leaves: operator (Next board on its tile), port, dsr, "
                 "cts, dcd, ri or chip")
      ->check(CLI::IsMember(BoardSignalWords()))
      ->capture_default_str();
  app.add_option("--expect-sha256", options.expectSha256,
                 "refuse the image unless its SHA-256 is this");
  app.add_option("--name", options.name, "the station's name (default: host name)");
  app.add_option("--max-failures", options.maxFailures,
                 "failed boards in a row that stop a port (0: never)")
      ->capture_default_str();
  app.add_option("--loader", burn.loaderFile, "download this RAM loader instead of the built-in");
  app.add_option("--rom-baud", burn.romBaud, "rate of the chip's boot ROM")->capture_default_str();
  app.add_option("--burn-baud", burn.burnBaud, "rate of the image transfer")->capture_default_str();
}

bool CompleteStationWindowOptions(const CLI::App& app, const std::string& file,
                                  StationOptions& options, std::ostream& overrides,
                                  std::ostream& err) {
  std::set<std::string> given;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 0 && option->get_name() != "FILE") {
      given.insert(option->get_name());
    }
  }
  TakeFileArgument(file, options, given);
  std::ostringstream said;
  if (!CompleteStationOptions(options, given, said)) {
    err << said.str();
    return false;
  }
  overrides << said.str();
  return true;
}

}  // namespace tarvok::cli
