// What the simulated fixture (tarvok-sim --board-dir) leaves of each board as it leaves: its
// flash in board-K.bin and its record in board-K.json.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/FileText.h"

namespace tarvok::testing {

inline std::vector<uint8_t> SimBoardFlash(const std::filesystem::path& boardDir, uint32_t board) {
  const std::string flash = FileText(boardDir / ("board-" + std::to_string(board) + ".bin"));
  return std::vector<uint8_t>(flash.begin(), flash.end());
}

// Discarded (is_discarded()) when the record is missing or not JSON.
inline nlohmann::json SimBoardRecord(const std::filesystem::path& boardDir, uint32_t board) {
  return nlohmann::json::parse(FileText(boardDir / ("board-" + std::to_string(board) + ".json")),
                               nullptr, false);
}

}  // namespace tarvok::testing
