// The serial channel all protocol code talks through: five blocking operations over a port
// that is already open and configured, each returning a small status (0 = success).
#pragma once

#include <cstdint>

#include "serial/SerialDevice.h"

namespace tarvok {

// SerialPort::Read and ::Write status values.
inline constexpr int32_t kPortOk = 0;
inline constexpr int32_t kPortNotOpen = 1;
inline constexpr int32_t kPortBadArgument = 2;
inline constexpr int32_t kPortOsCallFailed = 3;
inline constexpr int32_t kPortNotDrained = 4;  // Write: the bytes did not leave in time
inline constexpr int32_t kPortIdle = 99;

// Quiet time on each side of a change of the rate.
inline constexpr uint32_t kRateChangeGuardMs = 10;

struct SerialPort {
  uint32_t lastError = 0;          // OS error of the last failed comm-state call
  SerialDevice* handle = nullptr;  // borrowed: the channel never closes it
  uint8_t isOpen = 0;

  // 0; 1 not open; 2 reading the line settings failed.
  int32_t GetBaudRate(uint32_t& rate);
  // 0; 1 not open; 2 reading or 3 writing the line settings failed; 4 purge failed.
  // Lets the output leave first, and discards the input even when the rate is already in
  // force (see DrainAndPurge).
  int32_t SetBaudRate(uint32_t rate);
  // 0 all written and drained; 1; 2 no data; 3 OS write failed; 4 the bytes were accepted
  // but did not leave the port within the drain's deadline; 99 a write accepted nothing.
  int32_t Write(const uint8_t* data, uint32_t length);
  // 0 exactly `length` bytes; 1; 2 no buffer; 3 OS read failed; 99 idle budget exhausted.
  int32_t Read(uint8_t* buffer, uint32_t length, uint32_t maxIdleTries, uint32_t idleSleepMs);
  // 0; 1 not open; 2 a line error was pending (cleared by this call) or the query failed.
  int32_t GetInputCount(uint32_t& count);
};

// Brings a port to a clean state without losing what is on its way out: drains the output,
// then discards the input. Only when the output would not drain is it discarded as well.
// Discarding output that has not left yet would cut off the last command sent (and on a
// pseudo-terminal, bytes the other side has not read yet). False when the purge failed.
bool DrainAndPurge(SerialDevice& device);

// A millisecond sleep on the port's clock (the wall clock for a real port).
void SleepMs(const SerialPort& port, uint32_t ms);

}  // namespace tarvok
