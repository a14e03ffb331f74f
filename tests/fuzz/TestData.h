// Bytes for the images and loaders of the fuzz targets: what they hold matters little, so
// a seed from the input picks them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "burn/FlashImage.h"

namespace tarvok::fuzz {

inline std::unique_ptr<uint8_t[]> SeededBytes(uint32_t size, uint8_t seed) {
  auto bytes = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
  uint32_t state = 2654435761u * (seed + 1u);
  for (uint32_t k = 0; k < size; ++k) {
    state = state * 1103515245u + 12345;
    bytes[k] = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// An image as a burn prepares it, but with the size and block size the fuzzer chose.
inline FlashImage SeededImage(uint32_t size, uint32_t blockSize, uint8_t seed) {
  FlashImage image;
  image.path = "fuzz.bin";
  image.size = size;
  image.data = SeededBytes(size, seed);
  image.startAddress = 0;
  image.endAddress = size == 0 ? 0 : size - 1;
  image.valid = 1;
  image.eraseFlag = 1;
  image.blockSize = blockSize;
  return image;
}

// Whether a chip model took exactly the image's bytes.
inline bool TookImageWhole(const std::vector<uint8_t>& taken, const FlashImage& image) {
  return taken.size() == image.size && std::equal(taken.begin(), taken.end(), image.data.get());
}

}  // namespace tarvok::fuzz
