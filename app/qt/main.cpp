// tarvok-gui: the Tarvok dialog.
#include <QCoreApplication>
#include <QStringList>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/DialogOptions.h"
#include "app/qt/TarvokApp.h"
#include "version/VersionText.h"

namespace {

constexpr const char* kHelpHead =
    "Usage: tarvok-gui [OPTION]...\n"
    "Opens the Tarvok dialog, which burns a flash image into a TR7340 chip over a serial port.\n"
    "\n"
    "Choose the port (\"IMG COM:\"), the rate of the chip's boot ROM, the burn rate and the line\n"
    "settings, pick the image with \"Open\" and press \"Burn\". The bar runs 0-30 % while the RAM\n"
    "loader goes into the chip and 30-100 % while the image goes into flash.\n"
    "\n"
    "Options:\n";
constexpr const char* kHelpTail =
    "  -h, --help         print this help and exit\n"
    "  --version          print the version, the RAM loader and the boot stage built in, and\n"
    "                     exit\n"
    "\n"
    "Environment:\n"
    "  TARVOK_EXTRA_PORTS  more devices to list as ports, separated by ':' (COM1001 onwards)\n";

// Takes the dialog's own options out of the arguments (Qt takes its own later) and reads their
// files; false after a one-line error.
bool TakeBurnOptions(int& argc, char** argv, tarvok::DialogBurnOptions& options) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::string problem = tarvok::TakeDialogBurnOptions(args, options); !problem.empty()) {
    std::cerr << "tarvok-gui: " << problem << " (see 'tarvok-gui --help')\n";
    return false;
  }
  // What is left is a subsequence of argv in its order: keep those entries, drop the rest.
  int kept = 1;
  std::size_t next = 0;
  for (int i = 1; i < argc; ++i) {
    if (next < args.size() && args[next] == argv[i]) {
      argv[kept++] = argv[i];
      ++next;
    }
  }
  argv[kept] = nullptr;
  argc = kept;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window system is touched, so they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kHelpHead << tarvok::kDialogBurnOptionsHelp << kHelpTail;
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
  tarvok::DialogBurnOptions options;
  if (!TakeBurnOptions(argc, argv, options)) {
    return 2;
  }
  tarvok::CTarvokApp app(argc, argv);
  app.SetBurnOptions(std::move(options));
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
