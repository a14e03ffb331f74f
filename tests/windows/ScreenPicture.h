// A picture of part of the screen as a 24-bit .bmp file: what the window tests' --screenshot
// writes.
#pragma once

#include <windows.h>

#include <string>

namespace tarvok {

// `area` in screen coordinates; `path` in UTF-8.
void SaveScreenPicture(const RECT& area, const std::string& path);

}  // namespace tarvok
