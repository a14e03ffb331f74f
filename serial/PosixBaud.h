// Any baud rate on a Linux tty, standard or not (14,400 has no B-constant), through the
// kernel's termios2 interface. On a pseudo-terminal's master side these read the rate the
// other side set on the slave.
#pragma once

#include <cstdint>

namespace tarvok {

bool SetTtyBaudRate(int fd, uint32_t rate);
bool GetTtyBaudRate(int fd, uint32_t& rate);

}  // namespace tarvok
