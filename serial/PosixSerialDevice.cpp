#include "serial/PosixSerialDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "serial/PosixBaud.h"
#include "serial/PreciseClock.h"
#include "serial/QueueDrain.h"

namespace tarvok {
namespace {

int64_t NowMs() {
  return MonotonicUs() / 1000;
}

OpenResult Failed(OpenFailure failure, const std::string& path, int error) {
  return FailedOpen(failure, path, "permission denied (is the user in the dialout group?)",
                    std::strerror(error));
}

tcflag_t CharacterSize(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// Asks the driver of a USB serial adapter for low latency (ASYNC_LOW_LATENCY and a 1 ms
// latency timer in sysfs where writable); silently does nothing where it cannot.
void RequestLowLatency(int fd, const std::string& path) {
  struct serial_struct serial {};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= static_cast<int>(ASYNC_LOW_LATENCY);
    ioctl(fd, TIOCSSERIAL, &serial);
  }
  // USB serial adapters (FTDI and alike) keep a latency timer of 16 ms by default.
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(path, error);
  if (error) {
    return;
  }
  const std::filesystem::path timer =
      std::filesystem::path("/sys/class/tty") / device.filename() / "device" / "latency_timer";
  std::ofstream out(timer);
  if (out) {
    out << "1\n";
  }
}

}  // namespace

OpenResult OpenLocalSerialDevice(const std::string& path) {
  return PosixSerialDevice::Open(path);
}

OpenResult PosixSerialDevice::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
      return Failed(OpenFailure::kMissing, path, error);
    }
    if (error == EBUSY) {
      return Failed(OpenFailure::kBusy, path, error);
    }
    if (error == EACCES || error == EPERM) {
      return Failed(OpenFailure::kForbidden, path, error);
    }
    return Failed(OpenFailure::kOther, path, error);
  }
  if (!isatty(fd)) {
    ::close(fd);
    return Failed(OpenFailure::kNotATty, path, ENOTTY);
  }
  // TIOCEXCL does not hold against root, the lock does against every cooperating program.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    ::close(fd);
    return Failed(error == EWOULDBLOCK ? OpenFailure::kBusy : OpenFailure::kOther, path, error);
  }
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    const int error = errno;
    ::close(fd);
    return Failed(OpenFailure::kNotATty, path, error);
  }
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // With the descriptor non-blocking, VMIN 1 makes an empty queue read as EAGAIN, so that
  // a read of 0 bytes means the line hung up.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &settings);
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);  // a pseudo-terminal has no modem lines
  RequestLowLatency(fd, path);

  OpenResult result;
  result.device.reset(new PosixSerialDevice(fd));
  return result;
}

PosixSerialDevice::PosixSerialDevice(int fd) : fd_(fd) {
  line_.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  ReadBackLineSettings(line_);
  serial_icounter_struct counters{};
  if (ioctl(fd_, TIOCGICOUNT, &counters) == 0) {
    counters_ = {counters.frame, counters.overrun, counters.parity, counters.brk,
                 counters.buf_overrun};
  }
}

PosixSerialDevice::~PosixSerialDevice() {
  Close();
}

void PosixSerialDevice::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also releases the lock
    fd_ = -1;
  }
}

bool PosixSerialDevice::Fail() {
  lastError_ = static_cast<uint32_t>(errno);
  return false;
}

bool PosixSerialDevice::GetLineSettings(LineSettings& line) {
  if (fd_ < 0) {
    errno = EBADF;
    return Fail();
  }
  line = line_;
  return true;
}

bool PosixSerialDevice::ReadBackLineSettings(LineSettings& line) {
  termios settings{};
  uint32_t rate = 0;
  if (tcgetattr(fd_, &settings) != 0 || !GetTtyBaudRate(fd_, rate)) {
    return Fail();
  }
  line.baudRate = rate;
  line.byteSize = ByteSizeOf(settings.c_cflag);
  if ((settings.c_cflag & PARENB) == 0) {
    line.parity = kNoParity;
  } else if ((settings.c_cflag & CMSPAR) != 0) {
    line.parity = (settings.c_cflag & PARODD) != 0 ? kMarkParity : kSpaceParity;
  } else {
    line.parity = (settings.c_cflag & PARODD) != 0 ? kOddParity : kEvenParity;
  }
  // termios has no 1.5 stop bits: what goes out for either is 2.
  line.stopBits = (settings.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
  line.flags = line_.flags;
  return true;
}

bool PosixSerialDevice::SetLineSettings(const LineSettings& line) {
  TtyModeChange change{};
  change.controlClear = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  change.controlSet = CharacterSize(line.byteSize) | CLOCAL | CREAD;
  switch (line.parity) {
    case kNoParity:
      break;
    case kOddParity:
      change.controlSet |= PARENB | PARODD;
      break;
    case kEvenParity:
      change.controlSet |= PARENB;
      break;
    case kMarkParity:
      change.controlSet |= PARENB | PARODD | CMSPAR;
      break;
    default:
      change.controlSet |= PARENB | CMSPAR;
      break;
  }
  if (line.stopBits != kOneStopBit) {
    change.controlSet |= CSTOPB;
  }
  // Flow control from the flag word: hardware handshake only when asked for.
  const bool ctsFlow = (line.flags & kFlagOutxCtsFlow) != 0 ||
                       (line.flags & kFlagRtsControlMask) == kFlagRtsControlHandshake;
  if (ctsFlow) {
    change.controlSet |= CRTSCTS;
  }
  change.inputClear = IXON | IXOFF | IXANY | INPCK;
  if ((line.flags & kFlagOutX) != 0) {
    change.inputSet |= IXON;
  }
  if ((line.flags & kFlagInX) != 0) {
    change.inputSet |= IXOFF;
  }
  if ((line.flags & kFlagParityCheck) != 0) {
    change.inputSet |= INPCK;
  }
  if (!SetTtyModesAndRate(fd_, change, line.baudRate)) {
    return Fail();
  }
  int lines = 0;
  if ((line.flags & kFlagDtrControlMask) == kFlagDtrControlEnable) {
    lines |= TIOCM_DTR;
  }
  if ((line.flags & kFlagRtsControlMask) == kFlagRtsControlEnable) {
    lines |= TIOCM_RTS;
  }
  if (lines != 0) {
    ioctl(fd_, TIOCMBIS, &lines);
  }
  line_ = line;
  return true;
}

bool PosixSerialDevice::SetQueueSizes(uint32_t, uint32_t) {
  return true;  // the kernel sizes its own tty buffers
}

bool PosixSerialDevice::SetTimeouts(const Timeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

bool PosixSerialDevice::ClearError(CommStatus& status) {
  int waiting = 0;
  if (ioctl(fd_, FIONREAD, &waiting) != 0) {
    return Fail();
  }
  status.inputCount = static_cast<uint32_t>(waiting);
  status.errors = 0;
  serial_icounter_struct now{};
  if (ioctl(fd_, TIOCGICOUNT, &now) == 0) {  // a pseudo-terminal keeps no line counters
    if (now.frame != counters_.frame)
      status.errors |= kErrorFrame;
    if (now.overrun != counters_.overrun)
      status.errors |= kErrorOverrun;
    if (now.parity != counters_.parity)
      status.errors |= kErrorParity;
    if (now.brk != counters_.brk)
      status.errors |= kErrorBreak;
    if (now.buf_overrun != counters_.bufferOverrun)
      status.errors |= kErrorRxOverflow;
    counters_ = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
  }
  return true;
}

bool PosixSerialDevice::ClearBreak() {
  ioctl(fd_, TIOCCBRK);  // refused by a pseudo-terminal, which has no break to clear
  return true;
}

bool PosixSerialDevice::GetModemStatus(uint32_t& lines) {
  int bits = 0;
  if (ioctl(fd_, TIOCMGET, &bits) != 0) {
    return Fail();
  }
  lines = ((bits & TIOCM_CTS) != 0 ? kModemCts : 0) | ((bits & TIOCM_DSR) != 0 ? kModemDsr : 0) |
          ((bits & TIOCM_RNG) != 0 ? kModemRing : 0) | ((bits & TIOCM_CAR) != 0 ? kModemDcd : 0);
  return true;
}

bool PosixSerialDevice::Purge(uint32_t actions) {
  const bool input = (actions & kPurgeRxClear) != 0;
  const bool output = (actions & kPurgeTxClear) != 0;
  if (!input && !output) {
    return true;
  }
  const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  return tcflush(fd_, queue) == 0 || Fail();
}

bool PosixSerialDevice::WaitFor(short events, int64_t deadlineMs, bool& ready) {
  ready = false;
  while (true) {
    const int64_t left = deadlineMs - NowMs();
    pollfd entry{fd_, events, 0};
    const int n = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Fail();
    }
    if (n == 0) {
      return true;
    }
    if ((entry.revents & (POLLERR | POLLNVAL)) != 0 ||
        ((entry.revents & POLLHUP) != 0 && (entry.revents & events) == 0)) {
      errno = EIO;  // the device went away (an adapter unplugged, a hang-up)
      return Fail();
    }
    ready = true;
    return true;
  }
}

bool PosixSerialDevice::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  received = 0;
  const bool waits = timeouts_.readTotalMultiplier != 0 || timeouts_.readTotalConstant != 0;
  const int64_t deadline =
      NowMs() + int64_t{timeouts_.readTotalMultiplier} * length + timeouts_.readTotalConstant;
  // Bytes already waiting are returned at once; an empty queue is waited on until the
  // whole count has arrived or the time-out has passed.
  bool waited = false;
  while (received < length) {
    const ssize_t n = ::read(fd_, buffer + received, length - received);
    if (n > 0) {
      received += static_cast<uint32_t>(n);
      if (!waited) {
        return true;
      }
      continue;
    }
    if (n == 0) {
      errno = EIO;  // end of file on a tty: the other side hung up
      return Fail();
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN) {
      return Fail();
    }
    if (!waits) {
      return true;
    }
    bool ready = false;
    if (!WaitFor(POLLIN, deadline, ready)) {
      return false;
    }
    if (!ready) {
      return true;  // time-out: what has arrived, possibly nothing
    }
    waited = true;
  }
  return true;
}

bool PosixSerialDevice::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  accepted = 0;
  const int64_t deadline =
      NowMs() + int64_t{timeouts_.writeTotalMultiplier} * length + timeouts_.writeTotalConstant;
  while (accepted < length) {
    const ssize_t n = ::write(fd_, data + accepted, length - accepted);
    if (n > 0) {
      accepted += static_cast<uint32_t>(n);
      writtenSinceDrain_ = true;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      return Fail();
    }
    bool ready = false;
    if (!WaitFor(POLLOUT, deadline, ready)) {
      return false;
    }
    if (!ready) {
      return true;  // time-out: what the driver took
    }
  }
  return true;
}

DrainResult PosixSerialDevice::Drain() {
  const auto count = [this](uint32_t& queued) {
    int bytes = 0;
    if (ioctl(fd_, TIOCOUTQ, &bytes) != 0) {
      return Fail();
    }
    queued = static_cast<uint32_t>(std::max(bytes, 0));
    return true;
  };
  const auto timedOut = [this] {
    errno = ETIMEDOUT;
    Fail();
  };
  return DrainQueue(line_, writtenSinceDrain_, {count, timedOut});
}

uint64_t PosixSerialDevice::ClockMs() const {
  return static_cast<uint64_t>(NowMs());
}

void PosixSerialDevice::Sleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

}  // namespace tarvok
