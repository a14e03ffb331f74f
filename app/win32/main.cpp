// tarvok-gui.exe: the Windows dialog. With --loader FILE it downloads that RAM loader instead
// of the one built in.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/TarvokDlg.h"
#include "burn/BurnFiles.h"
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

// Takes "--loader FILE" out of the arguments and reads the file; false after telling the user
// in a message box.
bool TakeLoaderOption(std::vector<std::string>& args,
                      std::shared_ptr<const std::vector<uint8_t>>& loader) {
  const auto option = std::find(args.begin(), args.end(), "--loader");
  if (option == args.end()) {
    return true;
  }
  std::string problem = "--loader needs a file";
  if (option + 1 != args.end()) {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    problem = tarvok::ReadLoaderFile(*(option + 1), *bytes);
    if (problem.empty()) {
      loader = std::move(bytes);
      args.erase(option, option + 2);
      return true;
    }
    problem = "loader " + *(option + 1) + " " + problem;
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
  std::shared_ptr<const std::vector<uint8_t>> loader;
  if (!TakeLoaderOption(args, loader)) {
    return 2;
  }
  tarvok::CTarvokDlg dialog(GetModuleHandleW(nullptr));
  dialog.Core().SetLoader(loader);
  dialog.DoModal();
  if (dialog.Core().WorkerRunning() && !dialog.Core().AwaitStoppedWorker(kCloseWaitsForBurn)) {
    std::_Exit(0);  // a burn that did not stop in time: the system closes the port
  }
  return 0;
}
