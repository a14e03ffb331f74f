#include "burn/BurnFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "firmware/tr7340.h"

namespace tarvok {

const uint32_t kMaxLoaderBytes = TR7340_RAM_BYTES - TR7340_LOADER_ADDRESS;

namespace {

constexpr const char* kCannotOpen = "cannot be opened (missing, or no permission)";

}  // namespace

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
