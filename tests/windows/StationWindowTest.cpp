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
#include <optional>
#include <string>
#include <vector>

#include "app/win32/station/StationFrame.h"
#include "station/config/OpenStation.h"
#include "station/config/StationArguments.h"
#include "station/panel/StationPanelText.h"
#include "station/platform/ProgramArguments.h"
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
  tarvok::ProgramArguments programArguments(argc, argv);
  CLI::App app("The station window worked through simulated fixtures.", "tarvok-station-test");
  tarvok::StationArguments arguments;
  std::string screenshot;
  tarvok::AddStationOptions(app, tarvok::StationFront::kWindow, arguments);
  app.add_option("--screenshot", screenshot, "picture the window mid-burn (.bmp)");
  try {
    app.parse(programArguments.Count(), programArguments.Values());
  } catch (const CLI::ParseError& error) {
    return Refused(error.what());
  }
  tarvok::StationOptions options;
  std::vector<tarvok::StationOverride> overrides;
  if (const std::optional<tarvok::StationRefusal> refusal =
          tarvok::CompleteStationOptions(arguments, options, overrides)) {
    return Refused(tarvok::RefusalReason(*refusal));
  }
  tarvok::StationParts parts;
  if (const std::optional<tarvok::StationRefusal> refusal = tarvok::OpenStation(options, parts)) {
    return Refused(tarvok::RefusalReason(*refusal));
  }
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
