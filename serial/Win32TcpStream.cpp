// TcpStream over Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serial/PreciseClock.h"
#include "serial/ResolveWithin.h"
#include "serial/TcpStream.h"

namespace tarvok {
namespace {

// Winsock is started once for the process and left running to its end.
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data{};
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

// Waits until `s` is readable (or writable) until `deadlineUs`: 1 ready, 0 time-out, -1
// failed.
int WaitFor(SOCKET s, bool write, int64_t deadlineUs) {
  const int64_t left = std::max<int64_t>(0, deadlineUs - MonotonicUs());
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval wait{};
  wait.tv_sec = static_cast<long>(left / 1'000'000);
  wait.tv_usec = static_cast<long>(left % 1'000'000);
  const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
  if (n == SOCKET_ERROR) {
    return -1;
  }
  return n > 0 ? 1 : 0;
}

class Win32TcpStream : public TcpStream {
 public:
  explicit Win32TcpStream(SOCKET s) : socket_(s) {}
  ~Win32TcpStream() override { Close(); }
  Win32TcpStream(const Win32TcpStream&) = delete;
  Win32TcpStream& operator=(const Win32TcpStream&) = delete;

  bool Send(const uint8_t* data, size_t length, size_t& sent, int64_t deadlineUs) override {
    sent = 0;
    while (sent < length) {
      const int chunk = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
      const int n = ::send(socket_, reinterpret_cast<const char*>(data + sent), chunk, 0);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        return Fail(error);
      }
      const int ready = WaitFor(socket_, true, deadlineUs);
      if (ready < 0) {
        return Fail(WSAGetLastError());
      }
      if (ready == 0) {
        return true;  // time-out: what the connection took
      }
    }
    return true;
  }

  bool Receive(uint8_t* buffer, size_t length, size_t& received, int64_t deadlineUs) override {
    received = 0;
    bool waited = false;
    while (true) {
      const int chunk = static_cast<int>(std::min<size_t>(length, 1 << 20));
      const int n = ::recv(socket_, reinterpret_cast<char*>(buffer), chunk, 0);
      if (n > 0) {
        received = static_cast<size_t>(n);
        return true;
      }
      if (n == 0) {
        return Fail(WSAECONNRESET);  // the server closed the connection
      }
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        return Fail(error);
      }
      if (waited || MonotonicUs() >= deadlineUs) {
        return true;
      }
      const int ready = WaitFor(socket_, false, deadlineUs);
      if (ready < 0) {
        return Fail(WSAGetLastError());
      }
      if (ready == 0) {
        return true;
      }
      waited = true;
    }
  }

  int64_t NowUs() const override { return MonotonicUs(); }

  void WaitUntilUs(int64_t atUs) override {
    if (atUs <= MonotonicUs()) {
      std::this_thread::yield();
    } else {
      tarvok::WaitUntilUs(atUs);
    }
  }

  uint32_t LastError() const override { return lastError_; }

  void Close() override {
    if (socket_ != INVALID_SOCKET) {
      closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
  }

 private:
  bool Fail(int error) {
    lastError_ = static_cast<uint32_t>(error);
    return false;
  }

  SOCKET socket_;
  uint32_t lastError_ = 0;
};

// Connects one socket to `address` within the deadline: 0, or the Winsock error.
int ConnectOne(const addrinfo& address, int64_t deadlineUs, SOCKET& s) {
  s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (s == INVALID_SOCKET) {
    return WSAGetLastError();
  }
  u_long nonBlocking = 1;
  int error = 0;
  // FIONBIO's value has the top bit set; ioctlsocket takes it as a long.
  if (ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking) != 0) {
    error = WSAGetLastError();
  } else if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      const int ready = WaitFor(s, true, deadlineUs);
      int size = sizeof error;
      error = ready < 0    ? WSAGetLastError()
              : ready == 0 ? WSAETIMEDOUT
              : getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0
                  ? WSAGetLastError()
                  : error;
    }
  }
  if (error != 0) {
    closesocket(s);
    s = INVALID_SOCKET;
    return error;
  }
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
  // Every segment acknowledged at once (SIO_TCP_SET_ACK_FREQUENCY, Windows 10 and later): a
  // serial server with Nagle's algorithm on holds the chip's short replies back until its last
  // segment is acknowledged. Older systems refuse it and delay their acknowledgements.
  constexpr DWORD kSetAckFrequency = 0x98000017;  // _WSAIOW(IOC_VENDOR, 23)
  DWORD frequency = 1;
  DWORD returned = 0;
  WSAIoctl(s, kSetAckFrequency, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr,
           nullptr);
  return 0;
}

}  // namespace

ConnectResult ConnectTcp(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
  ConnectResult result;
  if (!StartWinsock()) {
    result.failure = ConnectFailure::kOther;
    result.systemText = "Winsock did not start";
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  const std::optional<Resolved> lookup = ResolveWithin(host, port, hints, timeoutMs);
  if (!lookup) {
    result.failure = ConnectFailure::kTimedOut;
    return result;
  }
  const int resolved = lookup->code;
  addrinfo* const addresses = lookup->addresses;
  if (resolved != 0) {
    result.failure = resolved == WSAHOST_NOT_FOUND || resolved == WSANO_DATA
                         ? ConnectFailure::kUnknownHost
                         : ConnectFailure::kOther;
    result.systemText = "error " + std::to_string(resolved);
    return result;
  }
  int error = WSAETIMEDOUT;
  bool refused = false;
  for (const addrinfo* a = addresses; a != nullptr && MonotonicUs() < deadline; a = a->ai_next) {
    SOCKET s = INVALID_SOCKET;
    error = ConnectOne(*a, deadline, s);
    if (error == 0) {
      result.stream = std::make_unique<Win32TcpStream>(s);
      break;
    }
    refused = refused || error == WSAECONNREFUSED;
  }
  freeaddrinfo(addresses);
  if (result.stream == nullptr) {
    result.failure = refused                 ? ConnectFailure::kRefused
                     : error == WSAETIMEDOUT ? ConnectFailure::kTimedOut
                                             : ConnectFailure::kOther;
    result.systemText = "error " + std::to_string(error);
  }
  return result;
}

}  // namespace tarvok
