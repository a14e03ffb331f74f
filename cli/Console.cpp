#include "cli/Console.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "serial/Win32Text.h"
#else
#include <unistd.h>
#endif

namespace tarvok::cli {

ConsoleArguments::ConsoleArguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) {
      texts_.push_back(Utf8FromWide(wide[i]));
    }
    LocalFree(wide);
  }
#endif
  if (texts_.empty()) {
    texts_.assign(argv, argv + argc);
  }
  for (std::string& text : texts_) {
    pointers_.push_back(text.data());
  }
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
    return false;  // a file or a pipe
  }
  SetConsoleOutputCP(CP_UTF8);
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

}  // namespace tarvok::cli
