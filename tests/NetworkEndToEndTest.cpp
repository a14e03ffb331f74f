// Burns through serial servers on 127.0.0.1: ser2net and pyserial's RFC 2217 server in front
// of simulated chips, and servers of our own with faults. First, the servers themselves: what
// the burns rely on them doing to the line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/Pty.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialServer.h"

namespace tarvok {
namespace {

using testing::SerialServer;
using testing::SerialServerSetup;
using testing::ServerKind;
using Bytes = std::vector<uint8_t>;

constexpr int kWaitMs = 10000;  // bounds waits that normally end in milliseconds
constexpr uint8_t kIac = 255;
constexpr uint8_t kComPortOption = 44;

// A TCP client of a server on 127.0.0.1, closed when it goes away.
class Client {
 public:
  explicit Client(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~Client() { close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `done` holds for all that has come, or the server closes, or `timeoutMs`.
  // All that came; `closed` says whether the server closed.
  Bytes ReadUntil(const std::function<bool(const Bytes&)>& done, bool* closed = nullptr) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done(got) && std::chrono::steady_clock::now() < end) {
      pollfd entry{fd_, POLLIN, 0};
      if (poll(&entry, 1, 20) <= 0) {
        continue;
      }
      uint8_t buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof(buffer));
      if (n <= 0) {
        if (closed != nullptr) {
          *closed = true;
        }
        break;
      }
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int fd_;
  bool connected_ = false;
};

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// The COM port control option's request for `rate`, as a Telnet client sends it after WILL.
Bytes SetRate(uint32_t rate) {
  return {kIac,
          250,
          kComPortOption,
          1,
          static_cast<uint8_t>(rate >> 24),
          static_cast<uint8_t>(rate >> 16),
          static_cast<uint8_t>(rate >> 8),
          static_cast<uint8_t>(rate),
          kIac,
          240};
}

// The chip's side of the line: what the host sends through the server.
class LineEnd : public sim::HostListener {
 public:
  void OnBytes(const uint8_t* bytes, std::size_t count, uint32_t) override {
    got.insert(got.end(), bytes, bytes + count);
  }
  void OnPurge() override {}
  // Reads until `count` bytes came, or the bound.
  void ReadUntil(sim::Pty& pty, std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
      pty.Receive(20'000, *this);
    }
  }
  Bytes got;
};

bool WaitForRate(const sim::Pty& pty, uint32_t rate) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (pty.HostRate() != rate) {
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct ServerCase {
  const char* name;
  ServerKind kind;
  bool telnet;
  bool setsRate;  // a rate asked for through the option reaches the line
  uint32_t lineRate = 9600;
};

class ServerFixture : public ::testing::TestWithParam<ServerCase> {};

// The server opens the pseudo-terminal, carries bytes both ways (0xFF doubled on Telnet),
// sets the line's rate as asked where it speaks the option, refuses the option where it does
// not, and is gone, its port free, once the test lets it go.
TEST_P(ServerFixture, BridgesThePseudoTerminal) {
  const ServerCase& c = GetParam();
  const ScratchFolder folder;
  const std::string dir = folder.PathOf("");
  std::string error;
  const auto pty = sim::Pty::Open(9600, &error);
  ASSERT_NE(pty, nullptr) << error;
  SerialServerSetup setup{.kind = c.kind, .device = pty->Path(), .lineRate = c.lineRate};
  std::unique_ptr<SerialServer> upstream;
  if (c.kind == ServerKind::kRefusesOption) {
    upstream = SerialServer::Start(
        {.kind = ServerKind::kSer2netRaw, .device = pty->Path(), .lineRate = c.lineRate}, dir,
        &error);
    ASSERT_NE(upstream, nullptr) << error;
    setup.upstream = upstream->Port();
  }
  auto server = SerialServer::Start(setup, dir, &error);
  ASSERT_NE(server, nullptr) << error;
  const uint16_t port = server->Port();
  {
    Client client(port);
    ASSERT_TRUE(client.Connected());
    if (c.telnet) {
      ASSERT_TRUE(client.Send({kIac, 251, kComPortOption}));  // WILL
      const Bytes answer = client.ReadUntil([&](const Bytes& got) {
        return Contains(got, {kIac, 253, kComPortOption}) ||
               Contains(got, {kIac, 254, kComPortOption});
      });
      EXPECT_EQ(Contains(answer, {kIac, 253, kComPortOption}), c.setsRate) << server->Output();
      ASSERT_TRUE(client.Send(SetRate(230400)));
    }
    if (c.setsRate) {
      EXPECT_TRUE(WaitForRate(*pty, 230400)) << pty->HostRate();
    }
    // Through ser2net the line is opened when a client connects: its rate is the
    // configuration's from then on.
    EXPECT_TRUE(WaitForRate(*pty, c.setsRate ? 230400 : c.lineRate)) << pty->HostRate();

    LineEnd line;
    ASSERT_TRUE(client.Send(c.telnet ? Bytes{'h', 'i', kIac, kIac, 0} : Bytes{'h', 'i', kIac, 0}));
    line.ReadUntil(*pty, 4);
    EXPECT_EQ(line.got, (Bytes{'h', 'i', kIac, 0})) << server->Output();
    const Bytes fromChip = {'o', kIac, 'k'};
    ASSERT_TRUE(pty->Write(fromChip.data(), fromChip.size()));
    const Bytes onWire = c.telnet ? Bytes{'o', kIac, kIac, 'k'} : fromChip;
    EXPECT_TRUE(Contains(client.ReadUntil([&](const Bytes& got) { return Contains(got, onWire); }),
                         onWire));
  }
  EXPECT_TRUE(server->Running()) << "a client's leaving ended the server: " << server->Output();
  server.reset();
  Client after(port);
  EXPECT_FALSE(after.Connected()) << "the server still listens";
}

const ServerCase kServers[] = {
    {"Ser2netTelnet", ServerKind::kSer2netRfc2217, true, true},
    {"Ser2netRaw", ServerKind::kSer2netRaw, false, false, 115200},
    {"Pyserial", ServerKind::kPyserialRfc2217, true, true},
    {"RefusesTheOption", ServerKind::kRefusesOption, true, false, 115200},
};

INSTANTIATE_TEST_SUITE_P(Servers, ServerFixture, ::testing::ValuesIn(kServers),
                         [](const auto& param) { return std::string(param.param.name); });

// The dropping server passes the first connection's bytes up to its limit and closes it; the
// next connection is carried whole.
TEST(ServerFixtureFaults, DropsAfterItsBytesThenCarriesTheNextConnection) {
  const ScratchFolder folder;
  const std::string dir = folder.PathOf("");
  std::string error;
  const auto pty = sim::Pty::Open(9600, &error);
  ASSERT_NE(pty, nullptr) << error;
  const auto raw =
      SerialServer::Start({.kind = ServerKind::kSer2netRaw, .device = pty->Path()}, dir, &error);
  ASSERT_NE(raw, nullptr) << error;
  const auto dropping = SerialServer::Start({.kind = ServerKind::kDrops,
                                             .device = {},
                                             .lineRate = 9600,
                                             .upstream = raw->Port(),
                                             .dropAfterBytes = 100},
                                            dir, &error);
  ASSERT_NE(dropping, nullptr) << error;
  const Bytes block(150, 0x5A);
  LineEnd line;
  {
    Client first(dropping->Port());
    ASSERT_TRUE(first.Connected());
    ASSERT_TRUE(first.Send(block));
    bool closed = false;
    first.ReadUntil([](const Bytes&) { return false; }, &closed);
    EXPECT_TRUE(closed);
    line.ReadUntil(*pty, 100);
    EXPECT_EQ(line.got.size(), 100u);
  }
  line.got.clear();
  Client second(dropping->Port());
  ASSERT_TRUE(second.Connected());
  ASSERT_TRUE(second.Send(block));
  line.ReadUntil(*pty, block.size());
  EXPECT_EQ(line.got, block) << raw->Output();
}

}  // namespace
}  // namespace tarvok
