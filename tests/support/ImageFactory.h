// Flash images for tests, prepared as a burn prepares them (start 0, erase flag 1,
// block size 1024), with contents that differ from block to block.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "burn/FlashImage.h"

namespace tarvok::testing {

inline std::vector<uint8_t> ImageBytes(uint32_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 12345;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

inline std::unique_ptr<FlashImage> MakeImage(const std::vector<uint8_t>& bytes) {
  auto image = CreateFlashImage();
  image->path = "test.bin";
  image->size = static_cast<uint32_t>(bytes.size());
  auto data = std::make_unique<uint8_t[]>(bytes.size());
  std::memcpy(data.get(), bytes.data(), bytes.size());
  image->data = std::move(data);
  image->endAddress = image->startAddress + image->size - 1;
  image->valid = 1;
  image->eraseFlag = 1;
  image->blockSize = kDefaultBlockSize;
  return image;
}

}  // namespace tarvok::testing
