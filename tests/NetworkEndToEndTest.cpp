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
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/Pty.h"
#include "sim/PtyChip.h"
#include "tests/support/FileText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialServer.h"
#include "tests/support/Subprocess.h"

namespace tarvok {
namespace {

using testing::SerialServer;
using testing::SerialServerSetup;
using testing::ServerKind;
using Bytes = std::vector<uint8_t>;
using Json = nlohmann::json;

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
    // Once the first bytes are through, the server has the line open.
    ASSERT_TRUE(first.Send(Bytes(block.begin(), block.begin() + 50)));
    line.ReadUntil(*pty, 50);
    ASSERT_EQ(line.got.size(), 50u);
    ASSERT_TRUE(first.Send(Bytes(block.begin() + 50, block.end())));
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

// --- Burns through the servers ----------------------------------------------------------

// A burn's bound: far beyond what a burn of these images takes, short of ctest's.
constexpr int kBurnBoundSeconds = 90;

struct BurnRun {
  testing::ProcessResult process;
  Json report;  // tarvok's JSON report; discarded when there was none
  double seconds = 0;
};

// One simulated chip behind one or two serial servers, and tarvok burning into it through them.
class NetworkBurn : public ::testing::Test {
 protected:
  // The chip; it already runs its loader unless `download`. Its line carries bytes at the
  // line's rate, as a real one does: through a server the host hands a block over at once and
  // then waits out its wire time, so that on a line that took the bytes at once, the block
  // would seem to stop before its sum.
  sim::PtyChip& StartChip(uint32_t romRate, bool download) {
    sim::PtyChipOptions options;
    options.wire.throttle = true;
    options.chip.romRate = romRate;
    options.chip.flashBytes = 256 * 1024;
    options.chip.startInLoader = !download;
    std::string error;
    chip_ = sim::PtyChip::Start(options, &error);
    EXPECT_NE(chip_, nullptr) << error;
    return *chip_;
  }
  // A server of `kind` in front of the chip's line (or, for a faulty one, of `upstream`).
  SerialServer& StartServer(ServerKind kind, uint32_t lineRate = 9600, uint16_t upstream = 0,
                            uint32_t dropAfterBytes = 0) {
    std::string error;
    servers_.push_back(SerialServer::Start({.kind = kind,
                                            .device = chip_->Path(),
                                            .lineRate = lineRate,
                                            .upstream = upstream,
                                            .dropAfterBytes = dropAfterBytes},
                                           folder_.PathOf(""), &error));
    EXPECT_NE(servers_.back(), nullptr) << error;
    return *servers_.back();
  }
  // tarvok burn with --json, cut off (exit 124) if it outlives the bound.
  BurnRun Burn(const Bytes& image, const std::string& port, const std::vector<std::string>& more) {
    const std::string file = folder_.PathOf("image.bin");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    std::vector<std::string> args = {"/usr/bin/timeout",
                                     "-k",
                                     "5",
                                     std::to_string(kBurnBoundSeconds),
                                     TARVOK_CLI_PATH,
                                     "burn",
                                     file,
                                     "--port",
                                     port,
                                     "--json"};
    args.insert(args.end(), more.begin(), more.end());
    BurnRun run;
    const auto start = std::chrono::steady_clock::now();
    run.process = testing::RunProcess(args);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.report = Json::parse(run.process.out, nullptr, false);
    return run;
  }
  std::string ServersSaid() const {
    std::string said;
    for (const auto& server : servers_) {
      said += server != nullptr ? server->Output() : "";
    }
    return said;
  }

  ScratchFolder folder_;
  std::unique_ptr<sim::PtyChip> chip_;
  std::vector<std::unique_ptr<SerialServer>> servers_;
};

struct RateCase {
  const char* name;
  ServerKind kind;
  uint32_t romRate;
  uint32_t burnRate;
  bool download;  // the boot ROM takes the loader through the server too
};

class NetworkBurnRates : public NetworkBurn, public ::testing::WithParamInterface<RateCase> {};

// Through a real server at each burn rate: a success, the flash the image, the finish at the
// chip. The chip hears the host only at the rate it listens at, so a rate change that did not
// reach the line fails the burn.
TEST_P(NetworkBurnRates, BurnsTheImage) {
  const RateCase& c = GetParam();
  sim::PtyChip& chip = StartChip(c.romRate, c.download);
  const SerialServer& server = StartServer(c.kind);
  const Bytes image = testing::ImageBytes(40000, c.burnRate + c.romRate);
  std::vector<std::string> more = {"--rom-baud", std::to_string(c.romRate), "--burn-baud",
                                   std::to_string(c.burnRate)};
  if (!c.download) {
    more.push_back("--loader-running");
  }
  const BurnRun run = Burn(image, server.PortName(), more);
  ASSERT_EQ(run.process.exitCode, 0) << run.process.out << run.process.err << ServersSaid();
  EXPECT_EQ(run.report["result"], "success") << run.report;
  EXPECT_EQ(run.report["port"], server.PortName());
  EXPECT_EQ(run.report["rates"]["burn"], c.burnRate);
  EXPECT_TRUE(chip.FlashHolds(image));
  chip.WaitForBurnEnd(3000);
  EXPECT_TRUE(chip.Report().finishArrived);
}

const RateCase kRates[] = {
    {"Ser2net115200", ServerKind::kSer2netRfc2217, 9600, 115200, false},
    {"Ser2net230400", ServerKind::kSer2netRfc2217, 9600, 230400, false},
    {"Ser2net460800", ServerKind::kSer2netRfc2217, 9600, 460800, false},
    {"Ser2net921600", ServerKind::kSer2netRfc2217, 9600, 921600, false},
    {"Ser2netRom115200Download", ServerKind::kSer2netRfc2217, 115200, 921600, true},
    {"Ser2netRom9600Download", ServerKind::kSer2netRfc2217, 9600, 460800, true},
    {"Pyserial115200Download", ServerKind::kPyserialRfc2217, 9600, 115200, true},
    {"Pyserial230400Download", ServerKind::kPyserialRfc2217, 9600, 230400, true},
    {"PyserialRom115200Download", ServerKind::kPyserialRfc2217, 115200, 921600, true},
};

INSTANTIATE_TEST_SUITE_P(Servers, NetworkBurnRates, ::testing::ValuesIn(kRates),
                         [](const auto& param) { return std::string(param.param.name); });

// Raw TCP carries data alone: the line stays at the rate the server gave it. A burn at another
// rate is refused before a byte is sent, pointing at rfc2217://; one at that rate goes through.
TEST_F(NetworkBurn, RawTcpBurnsOnlyAtTheLinesRate) {
  sim::PtyChip& chip = StartChip(115200, true);
  const SerialServer& server = StartServer(ServerKind::kSer2netRaw, 115200);
  const Bytes image = testing::ImageBytes(30000, 3);
  const BurnRun refused =
      Burn(image, server.PortName(), {"--rom-baud", "115200", "--burn-baud", "921600"});
  EXPECT_EQ(refused.process.exitCode, 2) << refused.process.out << refused.process.err;
  EXPECT_NE((refused.process.out + refused.process.err).find("rfc2217://"), std::string::npos)
      << refused.process.out << refused.process.err;
  EXPECT_LT(refused.seconds, 10);
  EXPECT_EQ(chip.BytesFromHost(), 0u) << "bytes reached the chip";

  const BurnRun run =
      Burn(image, server.PortName(), {"--rom-baud", "115200", "--burn-baud", "115200"});
  ASSERT_EQ(run.process.exitCode, 0) << run.process.out << run.process.err << ServersSaid();
  EXPECT_EQ(run.report["result"], "success") << run.report;
  EXPECT_TRUE(chip.FlashHolds(image));
  chip.WaitForBurnEnd(3000);
  EXPECT_TRUE(chip.Report().finishArrived);
}

// A server that goes wrong in the middle of a burn: the burn fails within its bound, never
// a success, and the chip's flash does not hold the image.
TEST_F(NetworkBurn, ConnectionDroppedMidBurnFailsAndSaysSo) {
  sim::PtyChip& chip = StartChip(9600, false);
  const SerialServer& upstream = StartServer(ServerKind::kSer2netRfc2217);
  // 64 KiB go through at most; the connection closes after the first 20000 bytes.
  const SerialServer& dropping = StartServer(ServerKind::kDrops, 9600, upstream.Port(), 20000);
  const Bytes image = testing::ImageBytes(64 * 1024, 5);
  const BurnRun run = Burn(image, dropping.PortName(), {"--loader-running"});
  EXPECT_EQ(run.process.exitCode, 1) << run.process.out << run.process.err;
  EXPECT_EQ(run.report["result"], "failure") << run.report;
  EXPECT_EQ(run.report["port_went_away"], true) << run.report;
  EXPECT_NE(run.process.out.find("network"), std::string::npos) << run.report;
  EXPECT_LT(run.seconds, 30) << "the burn outlived the dropped connection";
  EXPECT_FALSE(chip.FlashHolds(image));
  EXPECT_GE(chip.BytesFromHost(), 19000u) << "the connection closed before the image stage";
}

// A server that never answers, and one that refuses the COM port control option though it
// carries the data: the burn ends within its bound, never a success, the chip's flash not the
// image. A silent server is told at the open (exit 2, no chip touched), not blamed on the
// chip. Without the option the burn rate cannot reach the line: the boot ROM takes the loader
// at its own rate, and the switch to the burn rate fails.
struct BadServerCase {
  const char* name;
  ServerKind kind;
  bool download;
  int exitCode;
  uint32_t status;    // in the JSON report, when a burn began
  const char* words;  // in the report's explanation, or on standard error
};

class NetworkBurnBadServer : public NetworkBurn,
                             public ::testing::WithParamInterface<BadServerCase> {};

TEST_P(NetworkBurnBadServer, EndsWithoutASuccess) {
  const BadServerCase& c = GetParam();
  sim::PtyChip& chip = StartChip(9600, c.download);
  const SerialServer& raw = StartServer(ServerKind::kSer2netRaw);
  const SerialServer& server = StartServer(c.kind, 9600, raw.Port());
  const Bytes image = testing::ImageBytes(20000, 9);
  std::vector<std::string> more = {"--burn-baud", "921600"};
  if (!c.download) {
    more.push_back("--loader-running");
  }
  const BurnRun run = Burn(image, server.PortName(), more);
  EXPECT_EQ(run.process.exitCode, c.exitCode) << run.process.out << run.process.err;
  if (c.exitCode == 1) {
    EXPECT_EQ(run.report["status"], c.status) << run.report;
    EXPECT_NE(run.report["explanation"].get<std::string>().find(c.words), std::string::npos)
        << run.report;
  } else {
    EXPECT_NE(run.process.err.find(c.words), std::string::npos) << run.process.err;
  }
  EXPECT_LT(run.seconds, 30) << run.process.out;
  EXPECT_FALSE(chip.FlashHolds(image));
}

const BadServerCase kBadServers[] = {
    {"Silent", ServerKind::kSilent, false, 2, 0, "did not answer the RFC 2217 negotiation"},
    {"RefusesTheOption", ServerKind::kRefusesOption, true, 1, 0xD0006,
     "did not take the burn rate"},
};

INSTANTIATE_TEST_SUITE_P(Servers, NetworkBurnBadServer, ::testing::ValuesIn(kBadServers),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tarvok
