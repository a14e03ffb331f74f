// The application object: starts the main dialog, runs it and ends the program with it.
#pragma once

#include <QApplication>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvok {

class CTarvokDlg;

// The one main dialog, while it runs.
extern CTarvokDlg* mainDialog;

// A path as the file system takes it: on POSIX systems UTF-8 bytes.
std::string WideToAnsi(const QString& text);

class CTarvokApp : public QApplication {
 public:
  CTarvokApp(int& argc, char** argv);
  // The RAM loader the dialog downloads instead of the one built in (--loader FILE).
  void SetLoader(std::shared_ptr<const std::vector<uint8_t>> loader) {
    loader_ = std::move(loader);
  }
  // Runs the whole program; false: nothing is left to run after the dialog.
  bool InitInstance();

 private:
  std::shared_ptr<const std::vector<uint8_t>> loader_;
};

// How long closing the window waits for a burn to stop at its next byte boundary.
inline constexpr std::chrono::milliseconds kCloseWaitsForBurn{3000};

}  // namespace tarvok
