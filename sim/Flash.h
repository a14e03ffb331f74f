// NOR flash as the loader sees it: erased bytes read 0xFF, programming can only clear bits,
// and only an erase (by 4 KiB sector) sets them again. One cell may be stuck: it takes no
// bits when programmed, and reads as its erase or its preload left it.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok::sim {

class Flash {
 public:
  static constexpr uint32_t kSectorBytes = 4096;
  static constexpr uint32_t kNoCell = UINT32_MAX;

  Flash(uint32_t bytes, uint8_t initialFill) : cells_(bytes, initialFill) {}

  // What the flash holds from address 0 on before anyone programs it (as much as fits).
  void Preload(const std::vector<uint8_t>& bytes);
  // Erases every sector that holds a byte of [first, last].
  void Erase(uint32_t first, uint32_t last);
  // Programs `byte` at `address` (bits can only go from 1 to 0). False outside the flash.
  bool Program(uint32_t address, uint8_t byte);
  // The cell at `address` no longer takes its bits (kNoCell: every cell does).
  void SetStuckCell(uint32_t address) { stuckCell_ = address; }
  uint8_t At(uint32_t address) const { return address < cells_.size() ? cells_[address] : 0xFF; }
  const std::vector<uint8_t>& Cells() const { return cells_; }

 private:
  std::vector<uint8_t> cells_;
  uint32_t stuckCell_ = kNoCell;
};

}  // namespace tarvok::sim
