// What a production fixture tells about each board as it leaves: one line on standard error,
// and, when asked for, the board's flash and a JSON record of it in a directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/BoardLife.h"

namespace tarvok::sim {

// Such as "board 3: burned, 1 burn, left after 3.0 s".
std::string BoardLine(const BoardRecord& record);

// The record as a JSON object on one line.
std::string BoardJson(const BoardRecord& record);

// Writes DIR/board-K.bin (the whole flash) and DIR/board-K.json; false when either cannot be
// written.
bool WriteBoardFiles(const std::string& dir, const BoardRecord& record,
                     const std::vector<uint8_t>& flash);

}  // namespace tarvok::sim
