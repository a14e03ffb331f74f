// The Win32 serial device's open failures, against the real Win32 calls.
#include <gtest/gtest.h>
#include <windows.h>

#include "serial/OpenDevice.h"
#include "serial/Win32SerialDevice.h"

namespace tarvok {
namespace {

TEST(Win32SerialDevice, OpenFailuresSayWhy) {
  char directory[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
  const std::string plainFile = std::string(directory) + "tarvok-not-a-port.txt";
  const HANDLE file = CreateFileA(plainFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);

  struct Case {
    std::string path;
    OpenFailure failure;
    std::string reason;
  } const cases[] = {
      {"COM97", OpenFailure::kMissing, "\\\\.\\COM97: no such device"},
      {"\\\\.\\COM98", OpenFailure::kMissing, "\\\\.\\COM98: no such device"},
      {"\\\\?\\" + plainFile, OpenFailure::kNotATty, "\\\\?\\" + plainFile + ": not a serial port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const OpenResult result = OpenSerialDevice(c.path);
    EXPECT_EQ(result.device, nullptr);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.reason, c.reason);
  }
  DeleteFileA(plainFile.c_str());
}

}  // namespace
}  // namespace tarvok
