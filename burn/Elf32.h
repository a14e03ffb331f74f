// ELF32 little-endian (an ARM firmware build's output): the loadable segments' file bytes,
// placed at their physical (load) addresses, which is where they sit in flash.
#pragma once

#include <cstdint>
#include <span>

#include "burn/ImageAssembly.h"

namespace tarvok {

// Whether `head` starts with the ELF magic (of any class).
bool HasElfMagic(std::span<const uint8_t> head);

// Places every PT_LOAD segment's file bytes in `assembly`; a problem names the segment and
// its offset.
ImageProblem ReadElf32(std::span<const uint8_t> file, ImageAssembly& assembly);

}  // namespace tarvok
