// tarvok-station-screenshot: runs the station window on two simulated fixtures and pictures it
// in the middle of a burn, for the README. Run it under a display (Xvfb will do):
//   tarvok-station-screenshot OUTPUT.png [WIDTH HEIGHT]
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "app/qt/station/StationTileWidget.h"
#include "app/qt/station/StationWindow.h"
#include "app/qt/tools/SimulatedStation.h"

namespace {

constexpr int kDeadlineMs = 180'000;

// A tile half-way through a burn once some boards have passed: the picture shows every part.
bool WorthPicturing(tarvok::StationWindow& window) {
  if (window.Panel().RunningStation().Total().passed < 2) {
    return false;
  }
  for (const tarvok::StationTileWidget* tile : window.tiles) {
    if (tile->bar->isVisible() && tile->bar->value() >= 40 && tile->bar->value() <= 90) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: tarvok-station-screenshot OUTPUT.png [WIDTH HEIGHT]\n";
    return 2;
  }
  const QString output = argv[1];
  std::string error;
  const auto station = tarvok::SimulatedStation::Start({{.boards = 4}, {.boards = 4}}, error);
  if (!station) {
    std::cerr << "tarvok-station-screenshot: " << error << "\n";
    return 1;
  }
  QApplication app(argc, argv);
  tarvok::StationWindow window(station->TakeParts(), tarvok::RealStationWorld());
  window.resize(argc == 4 ? std::atoi(argv[2]) : 1100, argc == 4 ? std::atoi(argv[3]) : 820);
  window.show();
  window.startButton->click();
  int status = 1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (WorthPicturing(window)) {
      poll.stop();
      status = window.grab().save(output) ? 0 : 1;
      std::cout << "saved " << output.toStdString() << std::endl;
      QCoreApplication::exit(status);  // not quit(), which would ask the window to close
    }
  });
  poll.start(50);
  QTimer::singleShot(kDeadlineMs, [&] {
    std::cerr << "tarvok-station-screenshot: no board burned in time\n";
    QCoreApplication::exit(1);
  });
  app.exec();
  window.Panel().OnStopStation();  // the window's going waits for its ports
  return status;
}
