// SHA-256 digests of images and loaders, for the station's records, from the system's own
// cryptography library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvok {

// 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace tarvok
