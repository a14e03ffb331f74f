// The serial-device interface over a Windows COM port: synchronous I/O with the driver's
// own read and write time-outs, line errors from ClearCommError.
#pragma once

#include <cstdint>
#include <string>

#include "serial/OpenDevice.h"
#include "serial/SerialDevice.h"

namespace tarvok {

class Win32SerialDevice : public SerialDevice {
 public:
  // Opens `path` (such as \\.\COM5; a bare COM5 gets the prefix) for exclusive use.
  static OpenResult Open(const std::string& path);
  ~Win32SerialDevice() override;
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  bool GetLineSettings(LineSettings& settings) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool ReadBackLineSettings(LineSettings& settings) override;
  bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) override;
  bool SetTimeouts(const Timeouts& timeouts) override;
  bool ClearError(CommStatus& status) override;
  bool ClearBreak() override;
  bool GetModemStatus(uint32_t& lines) override;
  bool Purge(uint32_t actions) override;
  bool Write(const uint8_t* data, uint32_t length, uint32_t& accepted) override;
  bool Read(uint8_t* buffer, uint32_t length, uint32_t& received) override;
  DrainResult Drain() override;
  void Sleep(uint32_t ms) override;
  uint64_t ClockMs() const override;
  uint32_t LastError() const override { return lastError_; }
  void Close() override;

 private:
  explicit Win32SerialDevice(void* handle);
  bool Fail();
  // ClearCommError, keeping the error flags for the next ClearError to report.
  bool QueryStatus(uint32_t& inputCount, uint32_t& outputCount);

  void* handle_;  // the HANDLE, or null once closed
  uint32_t lastError_ = 0;
  LineSettings line_;  // as the host last set them
  // The whole comm state (a DCB) as last read or written, for a port whose state cannot be
  // read back.
  alignas(8) unsigned char lastState_[32] = {};
  uint32_t pendingErrors_ = 0;
  bool writtenSinceDrain_ = false;
};

// The device path for a port name: "\\.\" in front unless it already starts with "\\".
std::string Win32DevicePath(const std::string& path);

}  // namespace tarvok
