// The words for an image: what is wrong with a file, and what a file places where.
#pragma once

#include <cstdint>
#include <string>

#include "burn/ImageFile.h"

namespace tarvok {

// "Intel HEX", "Motorola S-record", "ELF32", "raw binary".
std::string ImageFormatName(ImageFormat format);

// What is wrong with an image file, after its path: "is empty", "line 12: the checksum
// is 0x3C where the record's bytes need 0x3D", "segment 1 (offset 0x34): ...". Names the line
// or offset, and for an address outside the flash how --flash-base would help.
std::string ImageProblemText(const ImageProblem& problem);

// What a burn of this image writes beyond the file's own bytes, for its summary: "Intel HEX,
// 3 regions; 4,096 bytes of gaps filled with 0xFF". Empty for a raw binary with no gaps.
std::string ImageFillText(const ImageLayout& layout);

// The image's map, one line a stretch in flash address order: each region ("0x00000400 to
// 0x000013FF: 4,096 bytes") and each gap before it that is burned as erased flash
// ("... bytes of 0xFF (gap)").
std::string ImageRegionMapText(const ImageLayout& layout);

// "burns 9,096 bytes from flash address 0, 4,096 of them 0xFF fill".
std::string ImageExtentText(uint32_t bytes, const ImageLayout& layout);

}  // namespace tarvok
