// A folder of one test's own for the files of a command-line test, and bytes written to it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarvok::testing {

// A folder named after `prefix`, this process and the running test, made if missing.
inline std::filesystem::path TestFolder(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + "-" + std::to_string(getpid()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(dir);
  return dir;
}

// Writes `bytes` to `dir`/`name` (making `dir` when it is missing); the file's path.
inline std::string WriteBytes(const std::filesystem::path& dir, const std::string& name,
                              const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / name;
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return file.string();
}

}  // namespace tarvok::testing
