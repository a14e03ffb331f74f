// What a RAM loader says it speaks beyond the classic protocol, read from the declaration at
// the end of its image (firmware/loader_codes.h). A loader without one speaks nothing more.
#pragma once

#include <cstdint>

namespace tarvok {

struct LoaderAdditions {
  bool bootStage = false;  // may come in through the boot stage built beside it
  bool flashCrc = false;   // answers the flash CRC request after the image
};

LoaderAdditions DeclaredAdditions(const uint8_t* loader, uint32_t length);

}  // namespace tarvok
