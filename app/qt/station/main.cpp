// tarvok-station: the production station's window, a tile per port.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

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

// Started with nothing to open, as from the desktop: the operator picks the station file.
// Empty when they cancel.
std::string PickStationFile(int argc, char** argv) {
  QApplication qt(argc, argv);
  return QFileDialog::getOpenFileName(nullptr, QObject::tr("Tarvok station: open a station file"),
                                      QString(),
                                      QObject::tr("Station files (*.toml);;All files (*)"))
      .toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "The Tarvok station window: burns one image into board after board on every port, a tile "
      "per port. Press Start; the settings cannot change while the station runs.",
      "tarvok-station");
  tarvok::StationArguments arguments;
  bool version = false;
  tarvok::AddStationOptions(app, tarvok::StationFront::kWindow, arguments);
  app.add_flag("--version", version, "print the version and exit");
  std::vector<char*> given(argv, argv + argc);
  std::string picked;
  if (argc == 1 && DisplayKnown()) {
    picked = PickStationFile(argc, argv);
    if (picked.empty()) {
      return 0;
    }
    given.push_back(picked.data());
  }
  try {
    app.parse(static_cast<int>(given.size()), given.data());
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
  const std::optional<tarvok::StationRefusal> refusal =
      tarvok::CompleteStationOptions(arguments, options, overrides);
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
