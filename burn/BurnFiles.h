// Reading the files a burn takes from people: the image, and a RAM loader other than the one
// built in. Each says in words what is wrong with a file it cannot use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burn/FlashImage.h"

namespace tarvok {

// The most the boot ROM can load: from 0xC00 to the end of the chip's RAM.
extern const uint32_t kMaxLoaderBytes;

// Reads the image whole into `image` (path, bytes, size, time). Empty, or what is wrong with
// the file: "is empty", "is not a regular file", ...
std::string ReadImageFile(const std::string& path, FlashImage& image);

// Reads a loader whole into `bytes`. Empty, or what is wrong with the file ("is empty",
// "has 70000 bytes; the boot ROM can load at most 62464").
std::string ReadLoaderFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace tarvok
