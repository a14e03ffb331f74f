// Multi-byte values as they travel on the wire: most significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvok::sim {

inline uint32_t BigEndianWord(const std::vector<uint8_t>& bytes, std::size_t at) {
  return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
         (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

}  // namespace tarvok::sim
