// tarvok-gui: the Tarvok dialog.
#include <QCoreApplication>
#include <QStringList>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/qt/TarvokApp.h"
#include "burn/BurnFiles.h"
#include "version/VersionText.h"

namespace {

constexpr const char* kHelp =
    "Usage: tarvok-gui [OPTION]...\n"
    "Opens the Tarvok dialog, which burns a flash image into a TR7340 chip over a serial port.\n"
    "\n"
    "Choose the port (\"IMG COM:\"), the rate of the chip's boot ROM, the burn rate and the line\n"
    "settings, pick the image with \"Open\" and press \"Burn\". The bar runs 0-30 % while the RAM\n"
    "loader goes into the chip and 30-100 % while the image goes into flash.\n"
    "\n"
    "Options:\n"
    "  --loader FILE  download this RAM loader instead of the one built in: a real board\n"
    "                 needs its own (the built-in loader is for the simulated chip)\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and the RAM loader built in, and exit\n"
    "\n"
    "Environment:\n"
    "  TARVOK_EXTRA_PORTS  more devices to list as ports, separated by ':' (COM1001 onwards)\n";

// Takes "--loader FILE" (or "--loader=FILE") out of the arguments and reads the file; false
// after a one-line error.
bool TakeLoaderOption(int& argc, char** argv, std::shared_ptr<const std::vector<uint8_t>>& loader) {
  constexpr const char* kJoined = "--loader=";
  const std::size_t joinedLength = std::strlen(kJoined);
  for (int i = 1; i < argc; ++i) {
    const bool joined = std::strncmp(argv[i], kJoined, joinedLength) == 0;
    if (!joined && std::strcmp(argv[i], "--loader") != 0) {
      continue;
    }
    if (!joined && i + 1 >= argc) {
      std::cerr << "tarvok-gui: --loader needs a file (see 'tarvok-gui --help')\n";
      return false;
    }
    const std::string path = joined ? argv[i] + joinedLength : argv[i + 1];
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (const std::string problem = tarvok::ReadLoaderFile(path, *bytes); !problem.empty()) {
      std::cerr << "tarvok-gui: loader " << path << " " << problem << "\n";
      return false;
    }
    loader = std::move(bytes);
    const int taken = joined ? 1 : 2;
    for (int k = i; k + taken <= argc; ++k) {
      argv[k] = argv[k + taken];
    }
    argc -= taken;
    --i;
  }
  return true;
}

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
  std::shared_ptr<const std::vector<uint8_t>> loader;
  if (!TakeLoaderOption(argc, argv, loader)) {
    return 2;
  }
  tarvok::CTarvokApp app(argc, argv);
  app.SetLoader(loader);
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
