#include "station/platform/ProgramArguments.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "serial/Win32Text.h"
#endif

namespace tarvok {

ProgramArguments::ProgramArguments(int argc, char** argv) {
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

}  // namespace tarvok
