#include "burn/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace tarvok {

uint32_t Crc32(const uint8_t* data, std::size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most a uInt of bytes at a time.
  constexpr std::size_t kMostAtOnce = std::numeric_limits<uInt>::max();
  while (size > 0) {
    const std::size_t piece = std::min(size, kMostAtOnce);
    crc = crc32(crc, data, static_cast<uInt>(piece));
    data += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace tarvok
