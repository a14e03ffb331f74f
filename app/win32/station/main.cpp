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
#include <set>
#include <sstream>
#include <string>

#include "app/station/StationPanelText.h"
#include "app/win32/station/StationFrame.h"
#include "app/win32/station/StationSelfTest.h"
#include "cli/Console.h"
#include "cli/StationFileOptions.h"
#include "cli/StationPlan.h"
#include "serial/Win32Text.h"
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
  tarvok::cli::BurnOptions& burn = options.burn;
  bool selfTest = false;
  bool version = false;
  std::string screenshot;
  app.add_option("--station", options.stationFile,
                 "the station file an engineer prepared; options given here override it");
  std::string file;
  app.add_option("FILE", file,
                 "the station file an engineer prepared (options given here override it), or "
                 "the image file with --port and --log");
  app.add_option("--port", burn.ports, "a COM name; repeat for each fixture")->take_all();
  app.add_option("--log", options.log, "append one JSON line per board to this file");
  app.add_option("--board", options.board,
                 "how a board arrives and leaves: operator (Next board on its tile), port, dsr, "
                 "cts, dcd, ri or chip")
      ->check(CLI::IsMember(tarvok::cli::BoardSignalWords()))
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
  std::set<std::string> given;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 0 && option->get_name() != "FILE") {
      given.insert(option->get_name());
    }
  }
  tarvok::cli::TakeFileArgument(file, options, given);
  std::ostringstream err;
  if (!tarvok::cli::CompleteStationOptions(options, given, err)) {
    return Refuse(err.str(), selfTest);
  }
  std::cerr << err.str();  // what the command line overrode in the station file
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
