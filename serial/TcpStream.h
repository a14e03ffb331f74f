// A TCP connection as the network serial devices see it: bytes out, bytes in, each wait ending
// at a deadline on the connection's own clock. The platforms implement it over their sockets;
// the tests over a scripted server on a virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvok {

class TcpStream {
 public:
  virtual ~TcpStream() = default;
  // Hands bytes to the connection, waiting for room until `deadlineUs`; `sent` may be short
  // when the deadline passes. False when the connection failed (LastError says why).
  virtual bool Send(const uint8_t* data, size_t length, size_t& sent, int64_t deadlineUs) = 0;
  // Takes what has arrived, waiting for the first byte until `deadlineUs` (not at all when it
  // has passed); `received` is 0 at the deadline. False when the peer closed or reset the
  // connection, or it failed (LastError says why).
  virtual bool Receive(uint8_t* buffer, size_t length, size_t& received, int64_t deadlineUs) = 0;
  // How many bytes sent so far the peer's TCP has not acknowledged yet; false when this system
  // cannot tell.
  virtual bool Unacknowledged(uint32_t& bytes) = 0;
  // Microseconds on the connection's clock (steady), from an arbitrary start.
  virtual int64_t NowUs() const = 0;
  // Waits until NowUs() reaches `atUs`; a time already passed gives up the time slice.
  virtual void WaitUntilUs(int64_t atUs) = 0;
  // The system's code for the last failure: for a connection the peer closed or reset, its
  // "connection reset" code (ECONNRESET, or WSAECONNRESET on Windows), or EPIPE.
  virtual uint32_t LastError() const = 0;
  virtual void Close() = 0;
};

enum class ConnectFailure { kNone, kUnknownHost, kRefused, kTimedOut, kOther };

struct ConnectResult {
  std::unique_ptr<TcpStream> stream;  // null when the connection failed
  ConnectFailure failure = ConnectFailure::kNone;
  std::string systemText;  // the system's words for a failure of no kind in particular
};

// Resolves `host` (a name, an IPv4 or IPv6 address) and connects to the first of its
// addresses that answers, all within `timeoutMs`. Nagle's delay is switched off: the serial
// protocols wait for each short command's answer.
ConnectResult ConnectTcp(const std::string& host, uint16_t port, uint32_t timeoutMs);

}  // namespace tarvok
