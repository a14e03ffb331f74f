// tarvok-gui-test.exe: the Windows dialog worked as a user would, under Wine:
//   tarvok-gui-test IMAGE PORT [--rom-baud RATE] [--screenshot FILE.bmp]
// burns IMAGE through PORT by pressing the dialog's own buttons and ends with exit code 0 only
// when the run succeeded; with --screenshot it pictures the dialog mid-burn.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/win32/TarvokDlg.h"
#include "serial/Win32Text.h"
#include "tests/windows/DialogBurnDriver.h"

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

constexpr std::chrono::milliseconds kCloseWaitsForBurn{3000};

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const std::vector<std::string> args = Arguments();
  if (args.size() < 2) {
    std::fputs("usage: tarvok-gui-test IMAGE PORT [--rom-baud RATE] [--screenshot FILE.bmp]\n",
               stderr);
    return 2;
  }
  tarvok::DialogDriveOptions options;
  options.image = args[0];
  options.port = args[1];
  for (std::size_t i = 2; i + 1 < args.size(); i += 2) {
    if (args[i] == "--rom-baud") {
      options.romRate = args[i + 1];
    } else if (args[i] == "--screenshot") {
      options.screenshot = args[i + 1];
    }
  }
  tarvok::DialogBurnDriver driver(options);
  tarvok::CTarvokDlg dialog(GetModuleHandleW(nullptr));
  dialog.AttachDriver(&driver);
  dialog.DoModal();
  if (dialog.Core().WorkerRunning() && !dialog.Core().AwaitStoppedWorker(kCloseWaitsForBurn)) {
    std::fputs("test failed: the burn did not stop as the dialog closed\n", stdout);
    std::fflush(stdout);
    std::_Exit(1);
  }
  std::fputs(driver.Report().c_str(), stdout);
  std::fflush(stdout);
  return driver.Result();
}
