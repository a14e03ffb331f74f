// Any baud rate on a Linux tty, standard or not (14,400 has no B-constant), through the
// kernel's termios2 interface. On a pseudo-terminal's master side these read the rate the
// other side set on the slave.
#pragma once

#include <cstdint>

namespace tarvok {

bool SetTtyBaudRate(int fd, uint32_t rate);
// Changes the control and input mode bits and sets the rate in one call. Unlike tcsetattr it
// does not turn a setting the driver quietly refused (a pseudo-terminal has no parity) into a
// failure: the caller reads back what the device took.
struct TtyModeChange {
  uint32_t controlClear, controlSet, inputClear, inputSet;
};
bool SetTtyModesAndRate(int fd, const TtyModeChange& change, uint32_t rate);
bool GetTtyBaudRate(int fd, uint32_t& rate);

}  // namespace tarvok
