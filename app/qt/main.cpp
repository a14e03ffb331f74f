// tarvok-gui: the Tarvok dialog.
#include <QCoreApplication>
#include <QStringList>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/qt/TarvokApp.h"
#include "version/VersionText.h"

namespace {

constexpr const char* kHelp =
    "Usage: tarvok-gui [OPTION]\n"
    "Opens the Tarvok dialog, which burns a flash image into a TR7340 chip over a serial port.\n"
    "\n"
    "Choose the port (\"IMG COM:\"), the rate of the chip's boot ROM, the burn rate and the line\n"
    "settings, pick the image with \"Open\" and press \"Burn\". The bar runs 0-30 % while the RAM\n"
    "loader goes into the chip and 30-100 % while the image goes into flash.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and the RAM loader built in, and exit\n"
    "\n"
    "Environment:\n"
    "  TARVOK_EXTRA_PORTS  more devices to list as ports, separated by ':' (COM1001 onwards)\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window system is touched, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kHelp;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << tarvok::VersionText("tarvok-gui") << "\n";
      return 0;
    }
  }
  // Without any display Qt would abort; say what is missing instead.
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    std::cerr << "tarvok-gui: no display to open the dialog on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set); from a terminal, burn with tarvok\n";
    return 1;
  }
  tarvok::CTarvokApp app(argc, argv);
  // Qt has taken the options it knows (-platform, -style, ...); anything left is a mistake.
  const QStringList unknown = QCoreApplication::arguments().mid(1);
  if (!unknown.isEmpty()) {
    std::cerr << "tarvok-gui: unknown option " << unknown.first().toStdString()
              << " (see 'tarvok-gui --help')\n";
    return 2;
  }
  app.InitInstance();
  return 0;
}
