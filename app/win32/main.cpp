// tarvok-gui.exe: the Windows dialog. With --loader FILE it downloads that RAM loader instead
// of the one built in (with --boot-stage FILE through that boot stage); --classic speaks to
// the loader as to one without additions.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/DialogOptions.h"
#include "app/win32/TarvokDlg.h"
#include "serial/Win32Text.h"

namespace {

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) {
    arguments.push_back(tarvok::Utf8FromWide(wide[i]));
  }
  LocalFree(wide);
  return arguments;
}

// Takes the dialog's own options out of the arguments and reads their files; false after
// telling the user in a message box.
bool TakeBurnOptions(std::vector<std::string>& args, tarvok::DialogBurnOptions& options) {
  const std::string problem = tarvok::TakeDialogBurnOptions(args, options);
  if (problem.empty()) {
    return true;
  }
  const std::wstring text = tarvok::WideFromUtf8("tarvok-gui: " + problem);
  MessageBoxW(nullptr, text.c_str(), L"Tarvok", MB_OK | MB_ICONEXCLAMATION);
  return false;
}

// How long closing the window waits for a burn to stop at its next byte boundary.
constexpr std::chrono::milliseconds kCloseWaitsForBurn{3000};

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::vector<std::string> args = Arguments();
  tarvok::DialogBurnOptions options;
  if (!TakeBurnOptions(args, options)) {
    return 2;
  }
  tarvok::CTarvokDlg dialog(GetModuleHandleW(nullptr));
  dialog.Core().SetBurnOptions(std::move(options));
  dialog.DoModal();
  if (dialog.Core().WorkerRunning() && !dialog.Core().AwaitStoppedWorker(kCloseWaitsForBurn)) {
    std::_Exit(0);  // a burn that did not stop in time: the system closes the port
  }
  return 0;
}
