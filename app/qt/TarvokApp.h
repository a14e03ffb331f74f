// The application object: starts the main dialog, runs it and ends the program with it.
#pragma once

#include <QApplication>
#include <QString>
#include <string>

namespace tarvok {

class CTarvokDlg;

// The one main dialog, while it runs.
extern CTarvokDlg* mainDialog;

// A path as the file system takes it: on POSIX systems UTF-8 bytes.
std::string WideToAnsi(const QString& text);

class CTarvokApp : public QApplication {
 public:
  CTarvokApp(int& argc, char** argv);
  // Runs the whole program; false: nothing is left to run after the dialog.
  bool InitInstance();
};

}  // namespace tarvok
