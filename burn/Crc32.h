// The CRC-32 both the boot stage and the loader's flash read-back use (zlib's and Ethernet's).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvok {

uint32_t Crc32(const uint8_t* data, std::size_t size);

}  // namespace tarvok
