// Numbers as people write them in options and files: decimal, or hexadecimal as 0x... where an
// address or offset is meant. The one reader of such words, for the command line, the station
// and the programs that burn through the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvok {

// The number `text` names, when it is all digits (after "0x" or "0X" with `hexAllowed`) and at
// most `most`; nothing for an empty word, a sign, a space or a number above `most`. A leading
// zero is decimal, never octal.
std::optional<uint64_t> ParseNumberWord(const std::string& text, bool hexAllowed, uint64_t most);

}  // namespace tarvok
