// The RAM loader program the tool carries and downloads into the chip, and its flat view.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "burn/FlashImage.h"

namespace tarvok {

struct LoaderView {
  char name[256];
  uint32_t reserved;
  const uint8_t* data;
  uint32_t size;
};

class LoaderImage {
 public:
  // Takes a private copy of the loader bytes. 0; 0x300 no source; 0x600 length 0 or no memory.
  uint32_t LoadEmbedded(const uint8_t* source, uint32_t length);
  // 0 valid; 0x500 not valid (then `view`, when given, is filled).
  uint32_t Validate(LoaderView* view) const;
  // 0; 0x300 no view.
  uint32_t Export(LoaderView* view) const;

  std::string name;
  uint32_t address = 0;
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 0;
};

// 0 with the new loader stored; 0x200 memory exhausted (null stored); 0x300 no place given.
uint32_t CreateLoaderImage(std::unique_ptr<LoaderImage>* out);
void DestroyLoaderImage(std::unique_ptr<LoaderImage> loader);

}  // namespace tarvok
