#include "app/BootStageFile.h"

#include <filesystem>

#include "burn/BurnFiles.h"

namespace tarvok {

std::string ReadBootStageFile(const std::string& path, std::vector<uint8_t>& bytes) {
  // Looked at before it is read: a large file named here by mistake is not read whole.
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  const bool regular = std::filesystem::is_regular_file(path, error);
  if (regular && size > kMaxBootStageBytes) {
    return "has " + std::to_string(size) + " bytes; a boot stage has at most " +
           std::to_string(kMaxBootStageBytes);
  }
  std::vector<uint8_t> read;
  if (std::string problem = ReadLoaderFile(path, read); !problem.empty()) {
    return problem;
  }
  if (read.size() > kMaxBootStageBytes) {  // it grew between the look and the read
    return "has " + std::to_string(read.size()) + " bytes; a boot stage has at most " +
           std::to_string(kMaxBootStageBytes);
  }
  bytes = std::move(read);
  return "";
}

}  // namespace tarvok
