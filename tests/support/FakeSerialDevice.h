// A scripted serial device with a virtual clock, for tests of the protocol code.
//
// It records every byte the host writes, every purge, line-settings change and sleep with the
// virtual time at which it happened, and plays back input: bytes pushed to arrive at a given
// virtual time, answers produced by a responder from what the host wrote, or a fixed script of
// what each OS read returns. Sleeps and read time-outs advance the clock instantly.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/SerialPort.h"

namespace tarvok::testing {

// How many of the next calls of one operation fail; kAlways makes every call fail.
struct FailCount {
  static constexpr uint32_t kAlways = UINT32_MAX;
  uint32_t remaining = 0;
  bool Take();
};

class FakeSerialDevice : public SerialDevice {
 public:
  enum class EventKind { kWrite, kPurge, kSetLine, kSleep, kClearBreak, kDrain };
  struct Event {
    EventKind kind;
    uint64_t atUs;
    std::vector<uint8_t> bytes;  // kWrite: the bytes accepted
    uint32_t value;     // kPurge: actions; kSetLine: baud rate; kSleep: ms; kDrain: 1 timed out
    LineSettings line;  // kSetLine: the whole settings
  };
  // Called after every write with the bytes accepted; typically pushes the chip's answer.
  using Responder = std::function<void(FakeSerialDevice&, std::span<const uint8_t>)>;

  FakeSerialDevice();
  ~FakeSerialDevice() override {
    if (onDestroy)
      onDestroy(*this);
  }
  // Called as the device goes away, so a test can see what was done to it last.
  std::function<void(const FakeSerialDevice&)> onDestroy;

  // Scripting.
  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  void PushInput(std::span<const uint8_t> bytes, uint64_t delayUs = 0);
  void PushInput(std::initializer_list<uint8_t> bytes, uint64_t delayUs = 0);
  // Each OS read returns the next chunk (at most what was asked); an empty chunk is a
  // read that times out. While chunks remain, the input queue is not used.
  void ScriptReads(std::vector<std::vector<uint8_t>> chunks);
  // Each OS write accepts at most the next number; then writes accept everything.
  void ScriptWriteAccepts(std::vector<uint32_t> accepts);
  void SetPendingErrors(uint32_t errors) { pendingErrors_ = errors; }
  // The modem-status inputs the device reports from now on; null fails the query, as a
  // device without modem lines does.
  std::function<bool(uint32_t& lines)> modemStatus;
  // Starts this device's clock where another one (or a test's own clock) stands.
  void SetNowUs(uint64_t nowUs) { nowUs_ = nowUs; }

  // The OS write call with this number (counted from 1) fails; 0 for none.
  uint32_t failWriteNumber = 0;
  FailCount failGetLine, failSetLine, failPurge, failWrite, failRead, failClearError;
  FailCount drainTimesOut;
  // What the device shows when the host reads the settings back; null shows what was set.
  std::function<void(LineSettings&)> alterReadBack;

  // Inspection.
  uint64_t NowUs() const { return nowUs_; }
  uint64_t NowMs() const { return nowUs_ / 1000; }
  const std::vector<Event>& Events() const { return events_; }
  std::vector<Event> EventsOf(EventKind kind) const;
  std::vector<uint8_t> Written() const;
  uint32_t BaudRate() const { return settings_.baudRate; }
  const LineSettings& Settings() const { return settings_; }
  const Timeouts& CurrentTimeouts() const { return timeouts_; }
  uint32_t InputWaiting() const;
  uint32_t ReadCalls() const { return readCalls_; }
  uint32_t WriteCalls() const { return writeCalls_; }
  uint32_t ClearErrorCalls() const { return clearErrorCalls_; }
  uint32_t Sleeps() const;
  bool Closed() const { return closed_; }

  // SerialDevice.
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
  uint64_t ClockMs() const override { return NowMs(); }
  uint32_t LastError() const override { return 5; }
  void Close() override { closed_ = true; }

 private:
  struct Arrival {
    uint64_t atUs;
    uint8_t byte;
  };
  uint64_t ReadTimeoutUs(uint32_t length) const;

  uint64_t nowUs_ = 0;
  LineSettings settings_;
  Timeouts timeouts_;
  std::deque<Arrival> input_;  // ordered by arrival time
  std::deque<std::vector<uint8_t>> readScript_;
  std::deque<uint32_t> writeAccepts_;
  std::vector<Event> events_;
  Responder responder_;
  uint32_t pendingErrors_ = 0;
  uint32_t readCalls_ = 0;
  uint32_t writeCalls_ = 0;
  uint32_t clearErrorCalls_ = 0;
  bool closed_ = false;
};

// An open channel over the fake device, as a burn makes one over its port.
inline SerialPort OpenPort(FakeSerialDevice& device) {
  SerialPort port;
  port.handle = &device;
  port.isOpen = 1;
  return port;
}

}  // namespace tarvok::testing
