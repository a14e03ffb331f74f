// Kept apart from every file that includes <termios.h>: the kernel's termios2 header
// defines the same names differently.
#include "serial/PosixBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace tarvok {

bool SetTtyBaudRate(int fd, uint32_t rate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = rate;
  settings.c_ospeed = rate;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

bool SetTtyModesAndRate(int fd, const TtyModeChange& change, uint32_t rate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  settings.c_cflag &= ~static_cast<tcflag_t>(change.controlClear | CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= change.controlSet | BOTHER | (BOTHER << IBSHIFT);
  settings.c_iflag &= ~static_cast<tcflag_t>(change.inputClear);
  settings.c_iflag |= change.inputSet;
  settings.c_ispeed = rate;
  settings.c_ospeed = rate;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

bool GetTtyBaudRate(int fd, uint32_t& rate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  rate = settings.c_ospeed;
  return true;
}

}  // namespace tarvok
