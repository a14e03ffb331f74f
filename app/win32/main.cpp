// tarvok-gui.exe: the Windows dialog. With --self-test IMAGE PORT [--rom-baud RATE]
// [--screenshot FILE.bmp] it burns IMAGE through PORT by pressing its own buttons and ends
// with exit code 0 only when the run succeeded.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/SelfTest.h"
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

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  const std::optional<tarvok::SelfTestOptions> selfTestOptions = SelfTestOptionsOf(Arguments());
  std::unique_ptr<tarvok::SelfTest> selfTest;
  tarvok::CTarvokDlg dialog(GetModuleHandleW(nullptr));
  if (selfTestOptions) {
    selfTest = std::make_unique<tarvok::SelfTest>(*selfTestOptions);
    dialog.AttachSelfTest(selfTest.get());
  }
  dialog.DoModal();
  if (!selfTest) {
    return 0;
  }
  std::fputs(selfTest->Report().c_str(), stdout);
  std::fflush(stdout);
  return selfTest->Result();
}
