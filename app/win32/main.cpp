// tarvok-gui.exe: the Windows dialog. With --loader FILE it downloads that RAM loader instead
// of the one built in. With --self-test IMAGE PORT [--rom-baud RATE] [--screenshot FILE.bmp]
// it burns IMAGE through PORT by pressing its own buttons and ends with exit code 0 only when
// the run succeeded.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/SelfTest.h"
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

std::optional<tarvok::SelfTestOptions> SelfTestOptionsOf(const std::vector<std::string>& args) {
  if (args.size() < 3 || args[0] != "--self-test") {
    return std::nullopt;
  }
  tarvok::SelfTestOptions options;
  options.image = args[1];
  options.port = args[2];
  for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
    if (args[i] == "--rom-baud") {
      options.romRate = args[i + 1];
    } else if (args[i] == "--screenshot") {
      options.screenshot = args[i + 1];
    }
  }
  return options;
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
  const std::optional<tarvok::SelfTestOptions> selfTestOptions = SelfTestOptionsOf(args);
  std::unique_ptr<tarvok::SelfTest> selfTest;
  tarvok::CTarvokDlg dialog(GetModuleHandleW(nullptr));
  dialog.Core().SetLoader(loader);
  if (selfTestOptions) {
    selfTest = std::make_unique<tarvok::SelfTest>(*selfTestOptions);
    dialog.AttachSelfTest(selfTest.get());
  }
  dialog.DoModal();
  if (dialog.Core().WorkerRunning() && !dialog.Core().AwaitStoppedWorker(kCloseWaitsForBurn)) {
    std::_Exit(0);  // a burn that did not stop in time: the system closes the port
  }
  if (!selfTest) {
    return 0;
  }
  std::fputs(selfTest->Report().c_str(), stdout);
  std::fflush(stdout);
  return selfTest->Result();
}
