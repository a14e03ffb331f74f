// The delay proxy on real loopback sockets, in real time: its delays are checked against their
// lower bound exactly and against generous upper bounds.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tools/delay-proxy/DelayProxy.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using tarvok::delayproxy::DelayProxy;
using tarvok::delayproxy::ProxyConfig;
using tarvok::delayproxy::ProxyStart;

constexpr int kWaitMs = 5000;  // nothing here takes nearly so long

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

Fd Connect(uint16_t port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = Loopback(port);
  EXPECT_EQ(connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  return fd;
}

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, kWaitMs) == 1;
}

// Up to `count` bytes, fewer at the end of the stream or when nothing comes for long.
std::string ReadBytes(int fd, size_t count) {
  std::string bytes;
  char buffer[65536];
  while (bytes.size() < count && Readable(fd)) {
    const ssize_t n = read(fd, buffer, std::min(sizeof(buffer), count - bytes.size()));
    if (n <= 0) {
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A server for the proxy to reach, a proxy with the given round trip, and one client through
// it with the server's end of the connection.
struct Link {
  Fd listener;
  std::unique_ptr<DelayProxy> proxy;
  Fd client;
  Fd server;
};

Link MakeLink(uint32_t roundTripMs) {
  Link link;
  link.listener = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  EXPECT_EQ(bind(link.listener.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(listen(link.listener.get(), 4), 0);
  getsockname(link.listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
  ProxyStart result{};
  link.proxy = DelayProxy::Start(
      {.targetPort = ntohs(address.sin_port), .addedRoundTripUs = roundTripMs * 1000}, result);
  EXPECT_EQ(result, ProxyStart::kOk);
  if (link.proxy) {
    link.client = Connect(link.proxy->Port());
    EXPECT_TRUE(Readable(link.listener.get()));
    link.server = Fd(accept(link.listener.get(), nullptr, nullptr));
  }
  return link;
}

TEST(DelayProxy, DelaysEachWayByHalfTheRoundTrip) {
  for (const uint32_t rttMs : {0u, 30u, 200u}) {
    SCOPED_TRACE(rttMs);
    const Link link = MakeLink(rttMs);
    ASSERT_GE(link.server.get(), 0);
    const auto start = Clock::now();
    Send(link.client.get(), "q");
    EXPECT_EQ(ReadBytes(link.server.get(), 1), "q");
    EXPECT_GE(MsSince(start), rttMs / 2.0);
    Send(link.server.get(), "a");
    EXPECT_EQ(ReadBytes(link.client.get(), 1), "a");
    EXPECT_GE(MsSince(start), rttMs);
    EXPECT_LT(MsSince(start), rttMs + 1000.0);
  }
}

// Writes a little apart each wait their own half round trip, not one after the other's; a
// stream larger than the sockets hold arrives whole and in order.
TEST(DelayProxy, KeepsOrderAndDelaysEachWriteOnce) {
  const Link link = MakeLink(1000);
  ASSERT_GE(link.server.get(), 0);
  const auto start = Clock::now();
  for (const char* chunk : {"a", "b", "c", "d", "e"}) {
    Send(link.client.get(), chunk);
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(ReadBytes(link.server.get(), 5), "abcde");
  EXPECT_GE(MsSince(start), 500 + 40);
  EXPECT_LT(MsSince(start), 2 * 500);

  std::string stream(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < stream.size(); ++i) {
    stream[i] = static_cast<char>(i * 7 + i / 251);
  }
  std::thread writer([&] { Send(link.server.get(), stream); });
  EXPECT_TRUE(ReadBytes(link.client.get(), stream.size()) == stream);
  writer.join();
}

// What was written before the end still arrives; then the end, a half round trip after it
// was given.
TEST(DelayProxy, PassesTheEndOnAfterTheDelay) {
  for (const bool clientEnds : {true, false}) {
    SCOPED_TRACE(clientEnds);
    Link link = MakeLink(200);
    ASSERT_GE(link.server.get(), 0);
    Fd ending = std::move(clientEnds ? link.client : link.server);
    const int other = (clientEnds ? link.server : link.client).get();
    Send(ending.get(), "last");
    const auto start = Clock::now();
    { const Fd closed = std::move(ending); }
    EXPECT_EQ(ReadBytes(other, 100), "last");
    char byte = 0;
    ASSERT_TRUE(Readable(other));
    EXPECT_EQ(read(other, &byte, 1), 0);
    EXPECT_GE(MsSince(start), 100);
  }
}

}  // namespace
