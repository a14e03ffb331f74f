// tarvok-station: the production station's window, a tile per port.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <vector>

#include "app/qt/station/StationWindow.h"
#include "cli/StationPlan.h"
#include "cli/StationWindowOptions.h"
#include "station/panel/StationPanelText.h"
#include "version/VersionText.h"

namespace {

bool DisplayKnown() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
         std::getenv("QT_QPA_PLATFORM") != nullptr;
}

// A station that cannot be opened is refused with one message, on the terminal and in a box
// for an operator who started the window from the desktop; nothing has been burned.
int Refuse(int argc, char** argv, std::string message) {
  const std::string prefix = "tarvok: ";
  if (message.rfind(prefix, 0) == 0) {
    message = message.substr(prefix.size());
  }
  while (!message.empty() && message.back() == '\n') {
    message.pop_back();
  }
  std::cerr << "tarvok-station: " << message << "\n";
  QApplication qt(argc, argv);
  QMessageBox::critical(nullptr, QObject::tr("Tarvok station"),
                        QString::fromStdString(tarvok::RefusalText(message)));
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
  tarvok::cli::StationOptions options;
  bool version = false;
  std::string file;
  tarvok::cli::AddStationWindowOptions(app, options, file);
  app.add_flag("--version", version, "print the version and exit");
  std::vector<char*> arguments(argv, argv + argc);
  std::string picked;
  if (argc == 1 && DisplayKnown()) {
    picked = PickStationFile(argc, argv);
    if (picked.empty()) {
      return 0;
    }
    arguments.push_back(picked.data());
  }
  CLI11_PARSE(app, static_cast<int>(arguments.size()), arguments.data());
  if (version) {
    std::cout << tarvok::VersionText("tarvok-station") << "\n";
    return 0;
  }
  if (!DisplayKnown()) {
    std::cerr << "tarvok-station: no display to open the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set); from a terminal, run 'tarvok station'\n";
    return 1;
  }
  std::ostringstream err;
  if (!tarvok::cli::CompleteStationWindowOptions(app, file, options, std::cerr, err)) {
    return Refuse(argc, argv, err.str());
  }
  tarvok::cli::StationPlan plan;
  std::ostringstream planErr;
  if (!tarvok::cli::PlanStation(options, plan, planErr)) {
    return Refuse(argc, argv, planErr.str());
  }
  QApplication qt(argc, argv);
  tarvok::StationParts parts{std::move(plan.setup), std::move(plan.log), std::move(plan.ledger),
                             std::move(plan.units)};
  tarvok::StationWindow window(std::move(parts), tarvok::RealStationWorld());
  window.resize(1100, 820);
  window.show();
  return qt.exec();
}
