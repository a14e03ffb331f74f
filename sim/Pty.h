// The master side of a pseudo-terminal whose slave side the host opens as its serial port:
// the bytes the host writes, each run with the rate it was sent at, the host's purges, and
// the bytes that go back to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvok::sim {

// What the host does on its side of the pseudo-terminal.
class HostListener {
 public:
  virtual ~HostListener() = default;
  // Bytes the host wrote, all sent at `rate`.
  virtual void OnBytes(const uint8_t* bytes, std::size_t count, uint32_t rate) = 0;
  // The host has opened the line and purged its buffers.
  virtual void OnPurge() = 0;
};

class Pty {
 public:
  // Null with `error` set when no pseudo-terminal could be made. The host's side starts raw,
  // at `rate`.
  static std::unique_ptr<Pty> Open(uint32_t rate, std::string* error);
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // The path the host opens, such as /dev/pts/3.
  const std::string& Path() const { return slavePath_; }
  bool IsOpen() const { return master_ >= 0; }
  // Waits up to `waitUs` (under a second) for the host and hands `listener` what one read
  // brings. False when there was nothing to read in that time.
  bool Receive(int64_t waitUs, HostListener& listener);
  // The rate the host has set on its side; 0 once hung up.
  uint32_t HostRate() const;
  // Hands bytes to the host. Nobody may be reading (no host yet): like a UART, the chip sends
  // anyway, and what the other side's full buffer cannot take is lost. False when the
  // pseudo-terminal failed.
  bool Write(const uint8_t* bytes, std::size_t count);
  // Closes the master, which hangs up the slave: the host's reads fail from now on.
  void HangUp();

  // When the host's bytes last arrived (the opening, before any), and how many it has sent.
  int64_t LastHeardUs() const { return lastHeardUs_; }
  uint64_t BytesFromHost() const { return bytesFromHost_; }

 private:
  Pty(int master, int slave, std::string slavePath, uint32_t rate);
  // Bytes from one read: those written before the host's last rate change at the earlier
  // rate, the rest at `rate`.
  void DeliverAtTheirRates(const uint8_t* bytes, std::size_t count, uint32_t rate,
                           HostListener& listener);
  void NoteRateChange();

  int master_;
  int slave_;  // kept open so the master survives the host closing the port
  std::string slavePath_;
  // One read from the master. In packet mode its first byte says what the read holds:
  // TIOCPKT_DATA before the host's bytes, or control flags alone (a purge of the host's
  // buffers, a change of its line settings).
  std::vector<uint8_t> buffer_;
  // Which rate the host's bytes were sent at. In packet mode with EXTPROC every change of the
  // host's line settings reaches the chip as a control packet, ahead of any byte written
  // after it: the bytes of one read were sent at the rate read just before it, and the bytes
  // still waiting when a control packet arrives were sent at the rate before the change.
  std::size_t sentAtEarlierRate_ = 0;  // bytes still waiting that predate a rate change
  uint32_t earlierRate_ = 0;
  uint32_t knownRate_;  // the host's rate as of the last data or rate change seen
  std::atomic<int64_t> lastHeardUs_;
  std::atomic<uint64_t> bytesFromHost_{0};
};

}  // namespace tarvok::sim
