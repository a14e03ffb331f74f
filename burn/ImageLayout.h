// Where an image's bytes go in flash: the form its file had and the regions it placed.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok {

// What erased flash reads as; the gaps an image leaves are burned with it.
inline constexpr uint8_t kErasedFlashByte = 0xFF;

enum class ImageFormat { kBinary, kIntelHex, kSRecord, kElf32 };

// One stretch of bytes the file places in flash, at its flash address (the file's address
// less the flash base). Adjacent records are one region.
struct ImageRegion {
  uint32_t address = 0;
  uint32_t length = 0;
};

// Where the image's bytes are, as the file gave them. A raw binary is one region at 0.
struct ImageLayout {
  ImageFormat format = ImageFormat::kBinary;
  uint32_t flashBase = 0;            // subtracted from every address in the file
  std::vector<ImageRegion> regions;  // in address order, none overlapping
  uint32_t filledBytes = 0;          // bytes of kErasedFlashByte in the gaps, from address 0
  bool hasEntryPoint = false;        // HEX types 03/05, S7/S8/S9, ELF e_entry
  uint32_t entryPoint = 0;           // as the file gives it (before the base), when it has one
};

}  // namespace tarvok
