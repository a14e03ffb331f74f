// The serial-device interface over a Linux tty: exclusive, raw, no flow control, with
// read and write time-outs kept by poll().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/OpenDevice.h"
#include "serial/SerialDevice.h"

namespace tarvok {

class PosixSerialDevice : public SerialDevice {
 public:
  // Opens `path` exclusively in raw mode, DTR and RTS raised, low latency where the driver
  // offers it.
  static OpenResult Open(const std::string& path);
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

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
  explicit PosixSerialDevice(int fd);
  bool Fail();
  // Waits for `events` until `deadline` (steady-clock ms); false on a hang-up or error.
  bool WaitFor(short events, int64_t deadlineMs, bool& ready);

  int fd_;
  uint32_t lastError_ = 0;
  LineSettings line_;  // as the host last set them
  Timeouts timeouts_;
  bool writtenSinceDrain_ = false;
  struct LineCounters {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
  } counters_;
};

}  // namespace tarvok
