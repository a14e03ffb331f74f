// Reading a RAM loader other than the one built in, and saying in words what is wrong with a
// file it cannot use. (The image is read by ReadImage, burn/ImageFile.h.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burn/FlashImage.h"

namespace tarvok {

// The most the boot ROM can load: from 0xC00 to the end of the chip's RAM.
extern const uint32_t kMaxLoaderBytes;

// Reads a loader whole into `bytes`. Empty, or what is wrong with the file ("is empty",
// "has 70000 bytes; the boot ROM can load at most 62464").
std::string ReadLoaderFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace tarvok
