// Collects the bytes an image file's records place, at their flash addresses, and turns them
// into the regions and the one stream burned from flash address 0. Every form goes through
// here, so the base, the flash's bounds and overlaps are checked once.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "burn/FlashImage.h"
#include "burn/ImageFile.h"

namespace tarvok {

class ImageAssembly {
 public:
  explicit ImageAssembly(uint32_t flashBase) : flashBase_(flashBase) {}

  // Places `bytes` at the file's address `fileAddress`. On a problem (kBelowFlashBase,
  // kOutsideFlash, kOverlap) nothing is placed; the caller adds where in the file it was.
  ImageProblem Add(uint64_t fileAddress, std::span<const uint8_t> bytes);

  void SetEntryPoint(uint32_t entryPoint) {
    hasEntryPoint_ = true;
    entryPoint_ = entryPoint;
  }

  // The bytes from flash address 0 with the gaps filled, and their layout; kNoData or
  // kTooSmall when there is too little to burn. The collected bytes are released.
  ImageProblem Finish(ImageFormat format, std::vector<uint8_t>& flash, ImageLayout& layout);

 private:
  // Bytes are kept in pages allocated on first write, so that memory follows what the file
  // places rather than the span of its addresses, and nothing is copied as the image grows.
  static constexpr uint32_t kPageBits = 16;
  static constexpr uint32_t kPageBytes = uint32_t{1} << kPageBits;
  static constexpr uint32_t kPageCount = (kHighestFlashAddress >> kPageBits) + 1;

  void Copy(uint32_t address, std::span<const uint8_t> bytes);

  uint32_t flashBase_;
  std::map<uint32_t, uint32_t> regions_;  // flash start -> end (exclusive), merged
  std::vector<std::unique_ptr<uint8_t[]>> pages_ =
      std::vector<std::unique_ptr<uint8_t[]>>(kPageCount);
  uint64_t placedBytes_ = 0;
  bool hasEntryPoint_ = false;
  uint32_t entryPoint_ = 0;
};

}  // namespace tarvok
