#include "app/qt/TarvokApp.h"

#include <QFile>
#include <cstdlib>

#include "app/qt/TarvokDlg.h"

namespace tarvok {

CTarvokDlg* mainDialog = nullptr;

std::string WideToAnsi(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

CTarvokApp::CTarvokApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(kApplicationTitle);
  setApplicationDisplayName(kApplicationTitle);
}

bool CTarvokApp::InitInstance() {
  CTarvokDlg dialog;
  dialog.Core().SetBurnOptions(options_);
  mainDialog = &dialog;
  dialog.exec();
  mainDialog = nullptr;
  if (dialog.WorkerRunning() && !dialog.Core().AwaitStoppedWorker(kCloseWaitsForBurn)) {
    // Closed during a burn that did not stop in time: the program ends now. Nothing is torn
    // down under the worker's feet; the system closes the port.
    std::_Exit(0);
  }
  return false;
}

}  // namespace tarvok
