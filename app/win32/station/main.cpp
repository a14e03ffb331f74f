// tarvok-station.exe: the production station's window on Windows, a tile per port. It takes
// the station as `tarvok station` does (a station file and/or IMAGE --port ... --log ...);
// started with nothing, as from the Start menu, it asks for the station file.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/win32/station/StationFrame.h"
#include "cli/Console.h"
#include "cli/StationPlan.h"
#include "cli/StationWindowOptions.h"
#include "serial/Win32Text.h"
#include "station/panel/StationPanelText.h"
#include "version/VersionText.h"

namespace {

// A station that cannot be opened is refused with one message, in a box and on the standard
// error stream; nothing has been burned.
int Refuse(std::string message) {
  const std::string prefix = "tarvok: ";
  if (message.rfind(prefix, 0) == 0) {
    message = message.substr(prefix.size());
  }
  while (!message.empty() && message.back() == '\n') {
    message.pop_back();
  }
  std::cerr << "tarvok-station: " << message << std::endl;
  const std::wstring text = tarvok::WideFromUtf8(tarvok::RefusalText(message));
  MessageBoxW(nullptr, text.c_str(), L"Tarvok station", MB_OK | MB_ICONEXCLAMATION);
  return 2;
}

// Started with nothing to open: the operator picks the station file. Empty when they cancel.
std::string PickStationFile() {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.lpstrFilter = L"Station files (*.toml)\0*.toml\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = L"Tarvok station: open a station file";
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  return GetOpenFileNameW(&dialog) ? tarvok::Utf8FromWide(path) : std::string();
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
  bool version = false;
  std::string file;
  tarvok::cli::AddStationWindowOptions(app, options, file);
  app.add_flag("--version", version, "print the version and exit");
  std::vector<char*> values(arguments.Values(), arguments.Values() + arguments.Count());
  std::string picked;
  if (arguments.Count() == 1) {
    picked = PickStationFile();
    if (picked.empty()) {
      return 0;
    }
    values.push_back(picked.data());
  }
  try {
    app.parse(static_cast<int>(values.size()), values.data());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    return Refuse(error.what());
  }
  if (version) {
    std::cout << tarvok::VersionText("tarvok-station") << std::endl;
    return 0;
  }
  std::ostringstream err;
  if (!tarvok::cli::CompleteStationWindowOptions(app, file, options, std::cerr, err)) {
    return Refuse(err.str());
  }
  tarvok::cli::StationPlan plan;
  std::ostringstream planErr;
  if (!tarvok::cli::PlanStation(options, plan, planErr)) {
    return Refuse(planErr.str());
  }

  tarvok::StationParts parts{std::move(plan.setup), std::move(plan.log), std::move(plan.ledger),
                             std::move(plan.units)};
  tarvok::StationFrame frame(GetModuleHandleW(nullptr), std::move(parts),
                             tarvok::RealStationWorld());
  if (!frame.Run([](tarvok::StationFrame&) {})) {
    return Refuse("the window could not be made");
  }
  return 0;
}
