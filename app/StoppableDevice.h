// The port as one burn run sees it: every call goes through to the real device, except that
// once the run has been asked to stop, reads, writes and input-count queries fail at once and
// sleeps end early, so the protocol ends at the byte boundary it has reached. It also notes
// when a call failed because the device itself has gone (unplugged, hung up), so that the
// failure can be named for what it is.
//
// The burn engine puts it between the port and the protocol, which knows nothing of it: the
// protocol only sees a serial device whose calls fail.
#pragma once

#include <cstdint>

#include "burn/BurnRequest.h"
#include "serial/SerialDevice.h"

namespace tarvok {

// True for the operating system's codes of a device that has gone away under an open port.
bool IsDeviceGoneError(uint32_t osError);

class StoppableDevice : public SerialDevice {
 public:
  // Remembers the line settings `device` has now, for RestoreLine.
  StoppableDevice(SerialDevice& device, StopToken stop);
  StoppableDevice(const StoppableDevice&) = delete;
  StoppableDevice& operator=(const StoppableDevice&) = delete;

  // A call was refused because the run had been asked to stop.
  bool Stopped() const { return stopped_; }
  // A call failed with an error of a device that has gone away.
  bool WentAway() const { return wentAway_; }
  // Asks the device with a status query, which fails once it has gone, and notes the answer:
  // for a run that failed without any call having said why. True when the device went away.
  bool AskWhetherGone();
  // Sets the line back to the settings it had when the run began (a run that was stopped
  // after the baud switch leaves the port at the burn rate) and discards what is queued.
  bool RestoreLine();

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
  uint64_t ClockMs() const override { return device_.ClockMs(); }
  uint32_t LastError() const override;
  uint32_t RoundTripMs() const override { return device_.RoundTripMs(); }
  void Close() override;

 private:
  bool StopRequested() const { return stop_.StopRequested(); }
  bool Refuse();
  bool Noted(bool succeeded);

  SerialDevice& device_;
  StopToken stop_;
  LineSettings initialLine_;
  bool lineKnown_ = false;
  bool stopped_ = false;
  bool wentAway_ = false;
};

}  // namespace tarvok
