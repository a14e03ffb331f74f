#include "cli/LoaderFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "firmware/tr7340.h"

namespace tarvok::cli {

const uint32_t kMaxLoaderBytes = TR7340_RAM_BYTES - TR7340_LOADER_ADDRESS;

bool ReadLoaderFile(const std::string& path, std::vector<uint8_t>& bytes, std::ostream& err) {
  std::error_code error;
  const char* problem = nullptr;
  if (!std::filesystem::is_regular_file(path, error)) {
    problem = std::filesystem::exists(path, error) ? "is not a regular file"
                                                   : "cannot be opened (missing, or no permission)";
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      problem = "cannot be opened (missing, or no permission)";
    } else {
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) {
        problem = "cannot be read";
      } else if (bytes.empty()) {
        problem = "is empty";
      } else if (bytes.size() > kMaxLoaderBytes) {
        err << "tarvok: loader " << path << " has " << bytes.size()
            << " bytes; the boot ROM can load at most " << kMaxLoaderBytes << "\n";
        return false;
      }
    }
  }
  if (problem != nullptr) {
    err << "tarvok: loader " << path << " " << problem << "\n";
    return false;
  }
  return true;
}

}  // namespace tarvok::cli
