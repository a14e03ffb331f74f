// tarvok-station-test.exe: the Windows station window worked as an operator would, under Wine.
// It takes the station as tarvok-station.exe does (IMAGE --port ... --log ... or a station
// file), plus --screenshot FILE.bmp to picture the window mid-burn; it presses the window's
// buttons through three boards on each port given, checks the tiles, the records and the log,
// closes the window in mid-burn and ends with exit code 0 only when every check held. A
// station that cannot be opened ends it with exit code 2 and the reason, and no message box.
#include <windows.h>

#include <commctrl.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "app/win32/station/StationFrame.h"
#include "cli/Console.h"
#include "cli/StationPlan.h"
#include "cli/StationWindowOptions.h"
#include "tests/windows/StationWindowDriver.h"

namespace {

int Refused(const std::string& message) {
  std::cerr << "tarvok-station-test: " << message << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  tarvok::cli::ConsoleArguments arguments(argc, argv);
  CLI::App app("The station window worked through simulated fixtures.", "tarvok-station-test");
  tarvok::cli::StationOptions options;
  std::string file;
  std::string screenshot;
  tarvok::cli::AddStationWindowOptions(app, options, file);
  app.add_option("--screenshot", screenshot, "picture the window mid-burn (.bmp)");
  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::ParseError& error) {
    return Refused(error.what());
  }
  std::ostringstream err;
  if (!tarvok::cli::CompleteStationWindowOptions(app, file, options, std::cerr, err)) {
    return Refused(err.str());
  }
  tarvok::cli::StationPlan plan;
  if (!tarvok::cli::PlanStation(options, plan, err)) {
    return Refused(err.str());
  }
  tarvok::StationParts parts{std::move(plan.setup), std::move(plan.log), std::move(plan.ledger),
                             std::move(plan.units)};
  tarvok::StationFrame frame(GetModuleHandleW(nullptr), std::move(parts),
                             tarvok::RealStationWorld());
  tarvok::StationWindowDriverOptions driverOptions;
  driverOptions.log = options.log;
  driverOptions.screenshot = screenshot;
  tarvok::StationWindowDriver driver(driverOptions);
  if (!frame.Run([&driver](tarvok::StationFrame& window) { driver.Start(window); })) {
    return Refused("the window could not be made");
  }
  driver.CheckAfterClose();
  std::fputs(driver.Report().c_str(), stdout);
  std::fflush(stdout);
  return driver.Result();
}
