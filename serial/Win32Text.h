// Text between the program's UTF-8 strings and the UTF-16 strings of the Win32 calls.
#pragma once

#include <string>

namespace tarvok {

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace tarvok
