// The RAM loader program the tool downloads into the chip, carried as a constant block.
// Its bytes are ARM code for the chip; the host never interprets them.
#pragma once

#include <cstdint>

namespace tarvok {

extern const uint8_t kEmbeddedLoader[];
extern const uint32_t kEmbeddedLoaderLength;
// The SHA-256 of those bytes in 64 lower-case hex digits, worked out when they were embedded.
extern const char kEmbeddedLoaderSha256[];

}  // namespace tarvok
