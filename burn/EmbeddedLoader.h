// The RAM loader program the tool downloads into the chip, carried as a constant block.
// Its bytes are ARM code for the chip; the host never interprets them.
#pragma once

#include <cstdint>

namespace tarvok {

extern const uint8_t kEmbeddedLoader[];
extern const uint32_t kEmbeddedLoaderLength;

}  // namespace tarvok
