// The image file a burn writes into flash, read whole into memory, and its flat view.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "burn/ImageLayout.h"

namespace tarvok {

// Codes shared by the descriptor operations.
inline constexpr uint32_t kNoMemory = 0x200;
inline constexpr uint32_t kMissingArgument = 0x300;
inline constexpr uint32_t kNotValid = 0x500;
inline constexpr uint32_t kContentsUnavailable = 0x600;

// Addresses travel to the loader in 27 bits: an image must end at or below this address.
inline constexpr uint32_t kHighestFlashAddress = 0x07FFFFFF;
inline constexpr uint32_t kDefaultBlockSize = 1024;

struct ImageView {
  char name[64];
  uint32_t startAddress;
  uint32_t endAddress;
  char path[256];
  uint32_t size;
  uint16_t reserved;
  uint8_t valid;
};

class FlashImage {
 public:
  // 0; 0x300 path missing or empty; 0x600 the file could not be read (the old path stays).
  uint32_t LoadFile(const char* filePath);
  // 0 valid; 0x500 not valid.
  uint32_t IsValid() const;
  // As IsValid, and fills `view` (when given) only when the image is not valid.
  uint32_t Validate(ImageView* view) const;
  // 0; 0x300 no view.
  uint32_t Export(ImageView* view) const;
  void UnloadData();

  std::string name;
  uint32_t startAddress = 0;
  uint32_t endAddress = 0;
  std::string path;
  uint32_t modifiedTime = 0;
  // The whole file, read-only. Owned by the descriptor; several descriptors may share one
  // buffer (the command line burns one image into several chips from a single read).
  std::shared_ptr<const uint8_t[]> data;
  uint32_t size = 0;
  uint8_t valid = 1;
  uint8_t eraseWait = 0;  // the loader's answer to the flash parameters
  uint32_t blockSize = kDefaultBlockSize;
  uint16_t eraseFlag = 0;
  // Where the bytes came from: the file's form and regions (a raw binary: one region at 0).
  ImageLayout layout;
};

// A new image with the defaults above, or null when memory is exhausted.
std::unique_ptr<FlashImage> CreateFlashImage();
void DestroyFlashImage(std::unique_ptr<FlashImage> image);

// Opens a regular file for reading ("rb") by its UTF-8 path (on Windows by the path's wide
// form, so that any name opens), never waiting: a FIFO, a device or a directory is
// refused before any open. The caller closes the file. On failure null, and `failure` (when
// given) says why: 1 no path; 2 cannot be opened (missing, no permission); 3 not a regular
// file.
std::FILE* OpenRegularFile(const char* filePath, uint32_t* failure);

// The length and modification time of a file OpenRegularFile opened; false when it cannot be
// examined.
bool StatusOfOpenFile(std::FILE* file, uint64_t* size, uint32_t* modifiedTime);

// ReadWholeFile's results.
inline constexpr uint32_t kFileRead = 0;
inline constexpr uint32_t kFileNoPath = 1;  // or another argument missing
inline constexpr uint32_t kFileCannotOpen = 2;
inline constexpr uint32_t kFileNotRegular = 3;  // or it cannot be examined
inline constexpr uint32_t kFileEmpty = 4;
inline constexpr uint32_t kFileTooLarge = 5;  // for memory, or its length not in 32 bits
inline constexpr uint32_t kFileReadFailed = 6;

// Reads a whole regular file: one of the results above. The outputs are written only on
// success.
uint32_t ReadWholeFile(const char* filePath, std::unique_ptr<uint8_t[]>* data, uint32_t* size,
                       uint32_t* modifiedTime);

// Copies at most `capacity` - 1 characters and always terminates.
void CopyTruncated(const std::string& text, char* out, std::size_t capacity);

}  // namespace tarvok
