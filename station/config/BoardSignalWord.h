// The words people name a board signal by, on the command line and in a station file.
#pragma once

#include <string>
#include <vector>

#include "station/core/StationSetup.h"

namespace tarvok {

// operator, port, dsr, cts, dcd, ri and chip.
const std::vector<std::string>& BoardSignalWords();

// Sets `choice`'s kind and modem line for `word`; false when the word names no signal.
bool BoardSignalOfWord(const std::string& word, BoardSignalChoice& choice);

}  // namespace tarvok
