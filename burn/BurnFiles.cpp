#include "burn/BurnFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "firmware/tr7340.h"

namespace tarvok {

const uint32_t kMaxLoaderBytes = TR7340_RAM_BYTES - TR7340_LOADER_ADDRESS;

namespace {

constexpr const char* kCannotOpen = "cannot be opened (missing, or no permission)";
constexpr const char* kTooLargeToAddress = "is larger than the 128 MiB the loader can address";

std::string ProblemOfReadResult(uint32_t code) {
  switch (code) {
    case kFileRead:
      return "";
    case kFileCannotOpen:
      return kCannotOpen;
    case kFileNotRegular:
      return "is not a regular file";
    case kFileEmpty:
      return "is empty";
    case kFileTooLarge:
      return "is too large to load";
    default:
      return "cannot be read";
  }
}

}  // namespace

std::string ReadImageFile(const std::string& path, FlashImage& image) {
  // Refused before it is read: a file far larger than the flash would only fill memory.
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path, error);
  if (!error && bytes > uint64_t{kHighestFlashAddress} + 1) {
    return kTooLargeToAddress;
  }
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 0;
  uint32_t modifiedTime = 0;
  const uint32_t code = ReadWholeFile(path.c_str(), &data, &size, &modifiedTime);
  if (code != kFileRead) {
    return ProblemOfReadResult(code);
  }
  if (size < 2) {
    return "is too small (an image has at least 2 bytes)";
  }
  if (size - 1 > kHighestFlashAddress) {
    return kTooLargeToAddress;
  }
  image.path = path;
  image.data = std::move(data);
  image.size = size;
  image.endAddress = image.startAddress + size - 1;
  image.modifiedTime = modifiedTime;
  return "";
}

std::string ReadLoaderFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return std::filesystem::exists(path, error) ? "is not a regular file" : kCannotOpen;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return kCannotOpen;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    return "cannot be read";
  }
  if (bytes.empty()) {
    return "is empty";
  }
  if (bytes.size() > kMaxLoaderBytes) {
    return "has " + std::to_string(bytes.size()) + " bytes; the boot ROM can load at most " +
           std::to_string(kMaxLoaderBytes);
  }
  return "";
}

}  // namespace tarvok
