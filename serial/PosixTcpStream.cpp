// TcpStream over POSIX sockets (Linux).
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "serial/PreciseClock.h"
#include "serial/ResolveWithin.h"
#include "serial/TcpStream.h"

namespace tarvok {
namespace {

int PollMs(int64_t deadlineUs) {
  const int64_t left = deadlineUs - MonotonicUs();
  return left > 0 ? static_cast<int>(std::min<int64_t>((left + 999) / 1000, 1'000'000)) : 0;
}

// Waits for `events` on `fd` until `deadlineUs`: 1 ready, 0 time-out, -1 failed (errno set).
int WaitFor(int fd, short events, int64_t deadlineUs) {
  while (true) {
    pollfd entry{fd, events, 0};
    const int n = ::poll(&entry, 1, PollMs(deadlineUs));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n == 0 && MonotonicUs() < deadlineUs) {
      continue;  // poll counts whole milliseconds
    }
    return n;
  }
}

// Asks the system to acknowledge what arrives at once instead of after its delayed-ACK time
// (40 ms). A serial server that leaves Nagle's algorithm on holds a short answer (the chip's
// one-byte reply) back until its last segment is acknowledged; with our acknowledgement
// delayed, every reply would wait for it. Linux falls back to delaying after a while, so this
// is asked again after every receive.
void AcknowledgeAtOnce(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

class PosixTcpStream : public TcpStream {
 public:
  explicit PosixTcpStream(int fd) : fd_(fd) {}
  ~PosixTcpStream() override { Close(); }
  PosixTcpStream(const PosixTcpStream&) = delete;
  PosixTcpStream& operator=(const PosixTcpStream&) = delete;

  bool Send(const uint8_t* data, size_t length, size_t& sent, int64_t deadlineUs) override {
    sent = 0;
    while (sent < length) {
      const ssize_t n = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        return Fail(errno);
      }
      const int ready = WaitFor(fd_, POLLOUT, deadlineUs);
      if (ready < 0) {
        return Fail(errno);
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
      const ssize_t n = ::recv(fd_, buffer, length, MSG_DONTWAIT);
      if (n > 0) {
        received = static_cast<size_t>(n);
        AcknowledgeAtOnce(fd_);
        return true;
      }
      if (n == 0) {
        return Fail(ECONNRESET);  // the server closed the connection
      }
      if (errno == EINTR) {
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return Fail(errno);
      }
      if (waited || MonotonicUs() >= deadlineUs) {
        return true;
      }
      const int ready = WaitFor(fd_, POLLIN, deadlineUs);
      if (ready < 0) {
        return Fail(errno);
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
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  bool Fail(int error) {
    lastError_ = static_cast<uint32_t>(error == EPIPE ? ECONNRESET : error);
    return false;
  }

  int fd_;
  uint32_t lastError_ = 0;
};

// Connects one socket to `address` within the deadline: 0, or the errno of the failure.
int ConnectOne(const addrinfo& address, int64_t deadlineUs, int& fd) {
  fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                address.ai_protocol);
  if (fd < 0) {
    return errno;
  }
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      const int ready = WaitFor(fd, POLLOUT, deadlineUs);
      socklen_t size = sizeof error;
      error = ready < 0                                                  ? errno
              : ready == 0                                               ? ETIMEDOUT
              : getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 ? errno
                                                                         : error;
    }
  }
  if (error != 0) {
    ::close(fd);
    fd = -1;
    return error;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  AcknowledgeAtOnce(fd);
  return 0;
}

}  // namespace

ConnectResult ConnectTcp(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  const int64_t deadline = MonotonicUs() + int64_t{timeoutMs} * 1000;
  ConnectResult result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  const std::optional<Resolved> lookup = ResolveWithin(host, port, hints, timeoutMs);
  if (!lookup) {
    result.failure = ConnectFailure::kTimedOut;
    return result;
  }
  const int resolved = lookup->code;
  addrinfo* const addresses = lookup->addresses;
  if (resolved != 0) {
    result.failure = resolved == EAI_NONAME || resolved == EAI_NODATA || resolved == EAI_FAIL
                         ? ConnectFailure::kUnknownHost
                         : ConnectFailure::kOther;
    result.systemText = gai_strerror(resolved);
    return result;
  }
  int error = ETIMEDOUT;
  bool refused = false;
  for (const addrinfo* a = addresses; a != nullptr && MonotonicUs() < deadline; a = a->ai_next) {
    int fd = -1;
    error = ConnectOne(*a, deadline, fd);
    if (error == 0) {
      result.stream = std::make_unique<PosixTcpStream>(fd);
      break;
    }
    refused = refused || error == ECONNREFUSED;
  }
  freeaddrinfo(addresses);
  if (result.stream == nullptr) {
    result.failure = refused              ? ConnectFailure::kRefused
                     : error == ETIMEDOUT ? ConnectFailure::kTimedOut
                                          : ConnectFailure::kOther;
    result.systemText = std::strerror(error);
  }
  return result;
}

}  // namespace tarvok
