// tarvok-station.exe: the production station's window on Windows, a tile per port. It takes
// the station as `tarvok station` does (a station file and/or IMAGE --port ... --log ...);
// with --self-test it drives itself through the fixtures given and ends with exit code 0 only
// when every check held.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/station/StationFrame.h"
#include "serial/Win32Text.h"
#include "station/config/OpenStation.h"
#include "station/config/StationArguments.h"
#include "station/panel/StationPanelText.h"
#include "station/platform/ProgramArguments.h"
#include "version/VersionText.h"

namespace {

// A station that cannot be opened is refused with one message, in a box and on the standard
// error stream; nothing has been burned.
int Refuse(const std::string& reason, const std::string& boxText) {
  std::cerr << "tarvok-station: " << reason << std::endl;
  const std::wstring text = tarvok::WideFromUtf8(boxText);
  MessageBoxW(nullptr, text.c_str(), L"Tarvok station", MB_OK | MB_ICONEXCLAMATION);
  return 2;
}

int Refuse(const tarvok::StationRefusal& refusal) {
  return Refuse(tarvok::RefusalReason(refusal), tarvok::RefusalText(refusal));
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

// The station's options completed from the station file (each override said on the standard
// error stream) and the station opened; a refusal otherwise.
std::optional<tarvok::StationRefusal> Open(const tarvok::StationArguments& arguments,
                                           tarvok::StationOptions& options,
                                           tarvok::StationParts& parts) {
  std::vector<tarvok::StationOverride> overrides;
  const std::optional<tarvok::StationRefusal> refusal =
      tarvok::CompleteStationOptions(arguments, options, overrides);
  for (const tarvok::StationOverride& override : overrides) {
    std::cerr << "tarvok-station: " << tarvok::OverrideNotice(override) << std::endl;
  }
  return refusal ? refusal : tarvok::OpenStation(options, parts);
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  tarvok::ProgramArguments programArguments(argc, argv);
  CLI::App app(
      "The Tarvok station window: burns one image into board after board on every port, a tile "
      "per port. Press Start all; the settings cannot change while the station runs.",
      "tarvok-station");
  tarvok::StationArguments arguments;
  bool version = false;
  tarvok::AddStationOptions(app, tarvok::StationFront::kWindow, arguments);
  app.add_flag("--version", version, "print the version and exit");
  std::vector<char*> values(programArguments.Values(),
                            programArguments.Values() + programArguments.Count());
  std::string picked;
  if (programArguments.Count() == 1) {
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
    return Refuse(error.what(), std::string("The station cannot be opened:\n\n") + error.what());
  }
  if (version) {
    std::cout << tarvok::VersionText("tarvok-station") << std::endl;
    return 0;
  }
  tarvok::StationOptions options;
  tarvok::StationParts parts;
  if (const std::optional<tarvok::StationRefusal> refusal = Open(arguments, options, parts)) {
    return Refuse(*refusal);
  }
  tarvok::StationFrame frame(GetModuleHandleW(nullptr), std::move(parts),
                             tarvok::RealStationWorld());
  if (!frame.Run([](tarvok::StationFrame&) {})) {
    return Refuse("the window could not be made", "The window could not be made.");
  }
  return 0;
}
