// The one seam between the protocol code and an operating system's serial port.
//
// Every protocol layer talks to the chip through this interface only. The POSIX and Win32
// device layers implement it over a real port; the tests implement it over a scripted fake
// with a virtual clock. The semantics follow the Win32 communications calls the tool was
// first written against: a read returns at once with what is waiting, otherwise waits until
// the asked count has arrived or the read time-out has passed.
#pragma once

#include <cstdint>

namespace tarvok {

// Parity values of LineSettings::parity.
inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kMarkParity = 3;
inline constexpr uint8_t kSpaceParity = 4;

// Stop-bit values of LineSettings::stopBits.
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;

// Bits of the line-control flag word (the layout of the Win32 DCB bit-field word).
inline constexpr uint32_t kFlagBinary = 0x0001;
inline constexpr uint32_t kFlagParityCheck = 0x0002;
inline constexpr uint32_t kFlagOutxCtsFlow = 0x0004;
inline constexpr uint32_t kFlagOutxDsrFlow = 0x0008;
inline constexpr uint32_t kFlagDtrControlMask = 0x0030;
inline constexpr uint32_t kFlagDtrControlEnable = 0x0010;
inline constexpr uint32_t kFlagDtrControlHandshake = 0x0020;
inline constexpr uint32_t kFlagDsrSensitivity = 0x0040;
inline constexpr uint32_t kFlagOutX = 0x0100;
inline constexpr uint32_t kFlagInX = 0x0200;
inline constexpr uint32_t kFlagRtsControlMask = 0x3000;
inline constexpr uint32_t kFlagRtsControlEnable = 0x1000;
inline constexpr uint32_t kFlagRtsControlHandshake = 0x2000;
inline constexpr uint32_t kFlagAbortOnError = 0x4000;

struct LineSettings {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  uint8_t parity = kNoParity;
  uint8_t stopBits = kOneStopBit;
  uint32_t flags = kFlagBinary;
};

struct Timeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

// Purge actions; kPurgeAll aborts pending transfers and discards both buffers.
// kPurgeInput discards only what has been received.
inline constexpr uint32_t kPurgeTxAbort = 0x1;
inline constexpr uint32_t kPurgeRxAbort = 0x2;
inline constexpr uint32_t kPurgeTxClear = 0x4;
inline constexpr uint32_t kPurgeRxClear = 0x8;
inline constexpr uint32_t kPurgeAll = 0x0F;
inline constexpr uint32_t kPurgeInput = kPurgeRxAbort | kPurgeRxClear;

// Line-error flags reported by ClearError.
inline constexpr uint32_t kErrorRxOverflow = 0x01;
inline constexpr uint32_t kErrorOverrun = 0x02;
inline constexpr uint32_t kErrorParity = 0x04;
inline constexpr uint32_t kErrorFrame = 0x08;
inline constexpr uint32_t kErrorBreak = 0x10;

// How a drain of the output ended.
enum class DrainResult {
  kDrained,   // everything written has left the port
  kTimedOut,  // output was still queued when the deadline from its size and the rate passed
  kFailed,    // the call failed (LastError tells why)
};

// Modem-status inputs reported by GetModemStatus (the bits of GetCommModemStatus).
inline constexpr uint32_t kModemCts = 0x10;
inline constexpr uint32_t kModemDsr = 0x20;
inline constexpr uint32_t kModemRing = 0x40;
inline constexpr uint32_t kModemDcd = 0x80;

struct CommStatus {
  uint32_t errors = 0;      // pending line-error flags, cleared by the query
  uint32_t inputCount = 0;  // bytes waiting in the input queue
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // The line settings as the host last set them (the device's own state before any set).
  // Some devices cannot show every setting (a pseudo-terminal forgets parity and data
  // bits), so the host keeps its own copy and changes only what it means to change.
  virtual bool GetLineSettings(LineSettings& settings) = 0;
  virtual bool SetLineSettings(const LineSettings& settings) = 0;
  // What the device itself reports now, to tell which settings it did not take.
  virtual bool ReadBackLineSettings(LineSettings& settings) = 0;
  virtual bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) = 0;
  virtual bool SetTimeouts(const Timeouts& timeouts) = 0;
  // Reports and clears the pending line errors, and counts the waiting input.
  virtual bool ClearError(CommStatus& status) = 0;
  virtual bool ClearBreak() = 0;
  // Which modem-status inputs (kModemCts, kModemDsr, kModemRing, kModemDcd) are asserted now.
  // A device without modem lines (a pseudo-terminal) fails the call.
  virtual bool GetModemStatus(uint32_t& lines) = 0;
  virtual bool Purge(uint32_t actions) = 0;
  // Writes up to `length` bytes within the write time-out; `accepted` says how many went.
  virtual bool Write(const uint8_t* data, uint32_t length, uint32_t& accepted) = 0;
  // Reads up to `length` bytes within the read time-out; `received` may be 0.
  virtual bool Read(uint8_t* buffer, uint32_t length, uint32_t& received) = 0;
  // Waits until all queued output has been transmitted, for no longer than the queued bytes
  // need at the current rate plus a margin, then about two character times more for the
  // transmitter's own buffer. Never discards anything.
  virtual DrainResult Drain() = 0;
  // Suspends the caller on this line's clock; 0 gives up the rest of the time slice.
  virtual void Sleep(uint32_t ms) = 0;
  // Milliseconds on this line's clock, from an arbitrary start; only differences count.
  virtual uint64_t ClockMs() const = 0;
  // The operating system's code for the last failed call.
  virtual uint32_t LastError() const = 0;
  // For a port reached over the network, the round trip to its server as last measured, in
  // milliseconds (a reply the server sends at once, such as a setting's acknowledgement); 0
  // for a local port, or before anything was measured.
  virtual uint32_t RoundTripMs() const { return 0; }
  virtual void Close() = 0;
};

}  // namespace tarvok
