#include "sim/Pty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "serial/PosixBaud.h"
#include "serial/PreciseClock.h"

namespace tarvok::sim {

std::unique_ptr<Pty> Pty::Open(uint32_t rate, std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (error != nullptr) {
      *error = "cannot create a pseudo-terminal";
    }
    if (master >= 0) {
      close(master);
    }
    return nullptr;
  }
  char name[128] = {};
  ptsname_r(master, name, sizeof(name));
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    if (error != nullptr) {
      *error = std::string("cannot open ") + name;
    }
    close(master);
    return nullptr;
  }
  // Raw on both ends: no echo, no line editing, no character translation.
  termios settings{};
  tcgetattr(slave, &settings);
  cfmakeraw(&settings);
  // With packet mode below, EXTPROC makes every change of the host's line settings reach
  // the chip as a control packet, so bytes written before a rate change keep their rate.
  settings.c_lflag |= EXTPROC;
  tcsetattr(slave, TCSANOW, &settings);
  SetTtyBaudRate(slave, rate);
  // Packet mode tells the chip when the host purges its buffers.
  int packetMode = 1;
  ioctl(master, TIOCPKT, &packetMode);
  return std::unique_ptr<Pty>(new Pty(master, slave, name, rate));
}

Pty::Pty(int master, int slave, std::string slavePath, uint32_t rate)
    : master_(master),
      slave_(slave),
      slavePath_(std::move(slavePath)),
      buffer_(4096),
      knownRate_(rate),
      lastHeardUs_(MonotonicUs()) {}

Pty::~Pty() {
  if (master_ >= 0) {
    close(master_);
  }
  if (slave_ >= 0) {
    close(slave_);
  }
}

uint32_t Pty::HostRate() const {
  uint32_t rate = 0;
  return master_ >= 0 && GetTtyBaudRate(master_, rate) ? rate : 0;
}

bool Pty::Receive(int64_t waitUs, HostListener& listener) {
  pollfd entry{master_, POLLIN, 0};
  const timespec timeout{0, static_cast<long>(waitUs * 1000)};
  const int ready = ppoll(&entry, 1, &timeout, nullptr);
  if (ready <= 0 || (entry.revents & POLLIN) == 0) {
    return false;
  }
  // A rate change after this point shows as a control packet before any data written after
  // it, so the data of this read was sent at this rate.
  const uint32_t rate = HostRate();
  const ssize_t n = read(master_, buffer_.data(), buffer_.size());
  if (n > 1 && buffer_[0] == TIOCPKT_DATA) {
    bytesFromHost_ += static_cast<uint64_t>(n - 1);
    DeliverAtTheirRates(buffer_.data() + 1, static_cast<std::size_t>(n - 1), rate, listener);
    lastHeardUs_ = MonotonicUs();
    knownRate_ = rate;
  } else if (n > 0 && (buffer_[0] & TIOCPKT_IOCTL) != 0) {
    NoteRateChange();
  }
  if (n > 0 && buffer_[0] != TIOCPKT_DATA &&
      (buffer_[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0) {
    listener.OnPurge();
  }
  return true;
}

// What is waiting now was written before the change, at the rate before it.
void Pty::NoteRateChange() {
  int waiting = 0;
  ioctl(master_, FIONREAD, &waiting);
  if (sentAtEarlierRate_ == 0) {
    earlierRate_ = knownRate_;
  }
  sentAtEarlierRate_ = static_cast<std::size_t>(std::max(waiting, 0));
  knownRate_ = HostRate();
}

void Pty::DeliverAtTheirRates(const uint8_t* bytes, std::size_t count, uint32_t rate,
                              HostListener& listener) {
  const std::size_t early = std::min(count, sentAtEarlierRate_);
  sentAtEarlierRate_ -= early;
  if (early > 0) {
    listener.OnBytes(bytes, early, earlierRate_);
  }
  if (count > early) {
    listener.OnBytes(bytes + early, count - early, rate);
  }
}

bool Pty::Write(const uint8_t* bytes, std::size_t count) {
  std::size_t written = 0;
  int patience = 20;
  while (written < count && patience > 0) {
    const ssize_t n = write(master_, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    } else {
      pollfd entry{master_, POLLOUT, 0};
      poll(&entry, 1, 10);
      --patience;
    }
  }
  return true;
}

void Pty::HangUp() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

}  // namespace tarvok::sim
