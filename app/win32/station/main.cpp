// tarvok-station.exe: the production station's window on Windows, a tile per port. It takes
// the station as `tarvok station` does (a station file and/or IMAGE --port ... --log ...);
// with --self-test it drives itself through the fixtures given and ends with exit code 0 only
// when every check held.
#include <windows.h>

#include <commctrl.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/win32/station/StationFrame.h"
#include "app/win32/station/StationSelfTest.h"
#include "cli/Console.h"
#include "cli/StationPlan.h"
#include "cli/StationWindowOptions.h"
#include "serial/Win32Text.h"
#include "station/panel/StationPanelText.h"
#include "version/VersionText.h"

namespace {

// A station that cannot be opened is refused with one message, in a box and on the standard
// error stream; nothing has been burned.
int Refuse(std::string message, bool quiet) {
  const std::string prefix = "tarvok: ";
  if (message.rfind(prefix, 0) == 0) {
    message = message.substr(prefix.size());
  }
  while (!message.empty() && message.back() == '\n') {
    message.pop_back();
  }
  std::cerr << "tarvok-station: " << message << std::endl;
  if (!quiet) {
    const std::wstring text = tarvok::WideFromUtf8(tarvok::RefusalText(message));
    MessageBoxW(nullptr, text.c_str(), L"Tarvok station", MB_OK | MB_ICONEXCLAMATION);
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  tarvok::cli::ConsoleArguments arguments(argc, argv);
  CLI::App app(
      "The Tarvok station window: burns one image into board after board on every port, a tile "
      "per port. Press Start all; the settings cannot change while the station runs.",
      "tarvok-station");
  tarvok::cli::StationOptions options;
  bool selfTest = false;
  bool version = false;
  std::string screenshot;
  std::string file;
  tarvok::cli::AddStationWindowOptions(app, options, file);
  app.add_flag("--self-test", selfTest,
               "press the window's buttons through three boards on each port given, check the "
               "tiles, the records and the log, and close");
  app.add_option("--screenshot", screenshot,
                 "with --self-test: picture the window mid-burn (.bmp)");
  app.add_flag("--version", version, "print the version and exit");
  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    return Refuse(error.what(), selfTest);
  }
  if (version) {
    std::cout << tarvok::VersionText("tarvok-station") << std::endl;
    return 0;
  }
  std::ostringstream err;
  if (!tarvok::cli::CompleteStationWindowOptions(app, file, options, std::cerr, err)) {
    return Refuse(err.str(), selfTest);
  }
  tarvok::cli::StationPlan plan;
  std::ostringstream planErr;
  if (!tarvok::cli::PlanStation(options, plan, planErr)) {
    return Refuse(planErr.str(), selfTest);
  }

  tarvok::StationParts parts{std::move(plan.setup), std::move(plan.log), std::move(plan.ledger),
                             std::move(plan.units)};
  tarvok::StationFrame frame(GetModuleHandleW(nullptr), std::move(parts),
                             tarvok::RealStationWorld());
  std::unique_ptr<tarvok::StationSelfTest> test;
  if (selfTest) {
    tarvok::StationSelfTestOptions testOptions;
    testOptions.log = options.log;
    testOptions.screenshot = screenshot;
    test = std::make_unique<tarvok::StationSelfTest>(testOptions);
  }
  const bool shown = frame.Run([&test](tarvok::StationFrame& window) {
    if (test) {
      test->Start(window);
    }
  });
  if (!shown) {
    return Refuse("the window could not be made", selfTest);
  }
  if (!test) {
    return 0;
  }
  test->CheckAfterClose();
  std::fputs(test->Report().c_str(), stdout);
  std::fflush(stdout);
  return test->Result();
}
