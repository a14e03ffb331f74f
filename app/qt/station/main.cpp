// tarvok-station: the production station's window, a tile per port.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/station/StationSelfTest.h"
#include "app/qt/station/StationWindow.h"
#include "station/config/OpenStation.h"
#include "station/config/StationArguments.h"
#include "station/panel/StationPanelText.h"
#include "version/VersionText.h"

namespace {

bool DisplayKnown() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
         std::getenv("QT_QPA_PLATFORM") != nullptr;
}

// A station that cannot be opened is refused with one message, on the terminal and, where
// there is a display, in a box for an operator who started the window from the desktop;
// nothing has been burned.
int Refuse(int argc, char** argv, const tarvok::StationRefusal& refusal) {
  std::cerr << "tarvok-station: " << tarvok::RefusalReason(refusal) << "\n";
  if (DisplayKnown()) {
    QApplication qt(argc, argv);
    QMessageBox::critical(nullptr, QObject::tr("Tarvok station"),
                          QString::fromStdString(tarvok::RefusalText(refusal)));
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "The Tarvok station window: burns one image into board after board on every port, a tile "
      "per port. Press Start; the settings cannot change while the station runs.",
      "tarvok-station");
  tarvok::StationArguments arguments;
  bool selfTest = false;
  bool version = false;
  std::string screenshot;
  tarvok::AddStationOptions(app, tarvok::StationFront::kWindow, arguments);
  app.add_flag("--self-test", selfTest,
               "run two simulated fixtures of three boards each through the window and check it");
  app.add_option("--screenshot", screenshot, "with --self-test: picture the window mid-burn here");
  app.add_flag("--version", version, "print the version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::cerr << "tarvok-station: " << error.what() << " (see 'tarvok-station --help')\n";
    return 2;
  }
  if (version) {
    std::cout << tarvok::VersionText("tarvok-station") << "\n";
    return 0;
  }
  tarvok::StationOptions options;
  std::vector<tarvok::StationOverride> overrides;
  std::optional<tarvok::StationRefusal> refusal;
  if (!selfTest) {
    refusal = tarvok::CompleteStationOptions(arguments, options, overrides);
  }
  for (const tarvok::StationOverride& override : overrides) {
    std::cerr << "tarvok-station: " << tarvok::OverrideNotice(override) << "\n";
  }
  if (refusal) {
    return Refuse(argc, argv, *refusal);
  }
  if (!DisplayKnown()) {
    std::cerr << "tarvok-station: no display to open the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set); from a terminal, run 'tarvok station'\n";
    return 1;
  }
  if (selfTest) {
    return tarvok::RunStationSelfTest(argc, argv, screenshot);
  }
  tarvok::StationParts parts;
  if (const std::optional<tarvok::StationRefusal> closed = tarvok::OpenStation(options, parts)) {
    return Refuse(argc, argv, *closed);
  }
  QApplication qt(argc, argv);
  tarvok::StationWindow window(std::move(parts), tarvok::RealStationWorld());
  window.resize(1100, 820);
  window.show();
  return qt.exec();
}
