// The application object: starts the main dialog, runs it and ends the program with it.
#pragma once

#include <QApplication>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/DialogOptions.h"

namespace tarvok {

class CTarvokDlg;

// The one main dialog, while it runs.
extern CTarvokDlg* mainDialog;

// A path as the file system takes it: on POSIX systems UTF-8 bytes.
std::string WideToAnsi(const QString& text);

class CTarvokApp : public QApplication {
 public:
  CTarvokApp(int& argc, char** argv);
  // The RAM loader the dialog downloads instead of the one built in, its boot stage and
  // --classic, as the command line gave them.
  void SetBurnOptions(DialogBurnOptions options) { options_ = std::move(options); }
  // Runs the whole program; false: nothing is left to run after the dialog.
  bool InitInstance();

 private:
  DialogBurnOptions options_;
};

// How long closing the window waits for a burn to stop at its next byte boundary.
inline constexpr std::chrono::milliseconds kCloseWaitsForBurn{3000};

}  // namespace tarvok
