// The sockets under the network serial devices, against listeners on the loopback interface:
// opening by name, a server that says nothing, a connection the server closes or resets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "serial/NetworkSerialDevice.h"
#include "serial/OpenDevice.h"

namespace tarvok {
namespace {

// A socket listening on 127.0.0.1 at a port the system chose; the connection it takes first.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(listen(fd_, 4), 0);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    Close(accepted_);
    Close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::string Name(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  void StopListening() { Close(fd_); }
  int Accept() {
    accepted_ = accept(fd_, nullptr, nullptr);
    return accepted_;
  }
  // Closes the connection taken: with a reset when `reset`, else in order.
  void Hang(bool reset) {
    if (reset) {
      const linger abort{1, 0};
      setsockopt(accepted_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    Close(accepted_);
  }

 private:
  static void Close(int& fd) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
  int fd_ = -1;
  int accepted_ = -1;
  uint16_t port_ = 0;
};

TEST(TcpStream, OpeningByNameSaysWhatWentWrong) {
  Listener gone;
  gone.StopListening();
  const std::string refused = gone.Name("rfc2217");
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {refused, refused + ": connection refused (is the serial server running?)"},
      {"rfc2217://host",
       "rfc2217://host: a host and a port number are needed (rfc2217://HOST:PORT, PORT from 1 "
       "to 65535)"},
      {"tcp://127.0.0.1:0",
       "tcp://127.0.0.1:0: a host and a port number are needed (tcp://HOST:PORT, PORT from 1 to "
       "65535)"},
      {"telnet://127.0.0.1:23",
       "telnet://127.0.0.1:23: not a kind of port this tool knows (rfc2217://HOST:PORT or "
       "tcp://HOST:PORT)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const OpenResult result = OpenSerialDevice(c.path);
    EXPECT_EQ(result.device, nullptr);
    EXPECT_EQ(result.failure, OpenFailure::kOther);
    EXPECT_EQ(result.reason, c.reason);
  }
}

TEST(TcpStream, ASilentServerHoldsNothing) {
  Listener server;  // the system takes the connection; the server never answers
  // Over RFC 2217 the open itself waits its bound for the server's first word, then says so.
  const OpenResult telnet = OpenSerialDevice(server.Name("rfc2217"));
  EXPECT_EQ(telnet.device, nullptr);
  EXPECT_NE(telnet.reason.find("did not answer the RFC 2217 negotiation within 3 s"),
            std::string::npos)
      << telnet.reason;
  // Raw TCP has no negotiation: the port opens, and a read ends at its time-out, empty.
  const OpenResult raw = OpenSerialDevice(server.Name("tcp"));
  ASSERT_NE(raw.device, nullptr) << raw.reason;
  raw.device->SetTimeouts({.readTotalConstant = 50});
  uint8_t byte = 0;
  uint32_t got = 1;
  EXPECT_TRUE(raw.device->Read(&byte, 1, got));
  EXPECT_EQ(got, 0u);
}

TEST(TcpStream, AConnectionClosedOrResetByTheServerIsGone) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "closed");
    Listener server;
    const OpenResult result = OpenSerialDevice(server.Name("tcp"));
    ASSERT_NE(result.device, nullptr) << result.reason;
    SerialDevice& device = *result.device;
    ASSERT_GE(server.Accept(), 0);
    server.Hang(reset);
    device.SetTimeouts({.readTotalConstant = 10'000});
    uint8_t byte = 0;
    uint32_t got = 0;
    EXPECT_FALSE(device.Read(&byte, 1, got));
    EXPECT_EQ(device.LastError(), static_cast<uint32_t>(ECONNRESET));
    EXPECT_FALSE(device.Write(&byte, 1, got));
    EXPECT_EQ(device.LastError(), static_cast<uint32_t>(ECONNRESET));
  }
}

TEST(TcpStream, ADrainWaitsAtLeastTheWireTime) {
  Listener server;
  const OpenResult result = OpenSerialDevice(server.Name("tcp"));
  ASSERT_NE(result.device, nullptr) << result.reason;
  SerialDevice& device = *result.device;
  ASSERT_GE(server.Accept(), 0);
  LineSettings line;
  line.baudRate = 115200;
  ASSERT_TRUE(device.SetLineSettings(line));
  const std::vector<uint8_t> block(1000, 0x55);
  const auto start = std::chrono::steady_clock::now();
  uint32_t accepted = 0;
  ASSERT_TRUE(device.Write(block.data(), 1000, accepted));
  ASSERT_EQ(accepted, 1000u);
  EXPECT_EQ(device.Drain(), DrainResult::kDrained);
  // 1002 characters of 87 us at 115200 baud.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(1002 * 87));
}

}  // namespace
}  // namespace tarvok
