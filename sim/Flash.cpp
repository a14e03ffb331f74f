#include "sim/Flash.h"

#include <algorithm>

namespace tarvok::sim {

void Flash::Preload(const std::vector<uint8_t>& bytes) {
  std::copy_n(bytes.begin(), std::min(bytes.size(), cells_.size()), cells_.begin());
}

void Flash::Erase(uint32_t first, uint32_t last) {
  if (cells_.empty() || first > last || first >= cells_.size()) {
    return;
  }
  const uint64_t begin = first / kSectorBytes * uint64_t{kSectorBytes};
  const uint64_t end =
      std::min<uint64_t>((last / kSectorBytes + 1) * uint64_t{kSectorBytes}, cells_.size());
  std::fill(cells_.begin() + static_cast<std::ptrdiff_t>(begin),
            cells_.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
}

bool Flash::Program(uint32_t address, uint8_t byte) {
  if (address >= cells_.size()) {
    return false;
  }
  if (address != stuckCell_) {
    cells_[address] &= byte;
  }
  return true;
}

}  // namespace tarvok::sim
