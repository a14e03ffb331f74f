#include "tests/support/SerialServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/FileText.h"

namespace tarvok::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kListenWaitMs = 10000;
constexpr int kTries = 4;

// A port on 127.0.0.1 that nobody listens on just now: the kernel's pick for port 0. Another
// program may take it before the server does; Start tries again then.
uint16_t FreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  uint16_t port = 0;
  if (probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (probe >= 0) {
    close(probe);
  }
  return port;
}

// The inode of the socket listening on TCP `port` of 127.0.0.1 or of every address, "" when
// none does.
std::string ListenerInode(uint16_t port) {
  std::istringstream table(FileText("/proc/net/tcp"));
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    const std::size_t colon = local.find(':');
    if (state != "0A" || colon == std::string::npos ||
        std::stoul(local.substr(colon + 1), nullptr, 16) != port) {
      continue;
    }
    const std::string host = local.substr(0, colon);
    if (host == "0100007F" || host == "00000000") {
      return inode;
    }
  }
  return {};
}

// True when process `pid` holds the socket `inode`.
bool HoldsSocket(int pid, const std::string& inode) {
  std::error_code error;
  const std::string wanted = "socket:[" + inode + "]";
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(entry.path(), error).string() == wanted) {
      return true;
    }
  }
  return false;
}

enum class Listening { kYes, kTaken, kNo };

// Waits until the server listens on `port`. A server that fails to bind may say so and run
// on (ser2net does), so the listener must be the server's own: another program's is a clash.
// Nothing connects to look: a probe would open the serial line and could keep the port busy.
Listening WaitUntilListening(BackgroundProcess& server, uint16_t port) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenWaitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (server.Wait(0) >= 0) {
      return Listening::kNo;
    }
    const std::string inode = ListenerInode(port);
    if (!inode.empty()) {
      return HoldsSocket(server.Pid(), inode) ? Listening::kYes : Listening::kTaken;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Listening::kNo;
}

std::vector<std::string> ServerArgs(const SerialServerSetup& setup, uint16_t port,
                                    const std::string& folder) {
  const std::string portText = std::to_string(port);
  const std::string upstream = std::to_string(setup.upstream);
  const std::string faulty = TARVOK_TEST_SUPPORT_DIR "/faulty_serial_server.py";
  switch (setup.kind) {
    case ServerKind::kSer2netRfc2217:
    case ServerKind::kSer2netRaw: {
      const std::string config = folder + "/ser2net-" + portText + ".yaml";
      std::ofstream(config) << Ser2netYaml(setup, port);
      // -n: in the foreground; -u: no UUCP lock file for the line; -c: this file alone, never
      // the system's configuration.
      return {TARVOK_SER2NET_PATH, "-n", "-u", "-c", config};
    }
    case ServerKind::kPyserialRfc2217:
      return {TARVOK_PYTHON_PATH,
              TARVOK_TEST_SUPPORT_DIR "/pyserial_pty_server.py",
              TARVOK_PYSERIAL_EXAMPLE,
              "-p",
              portText,
              setup.device};
    case ServerKind::kSilent:
      return {TARVOK_PYTHON_PATH, faulty, "silent", "--port", portText};
    case ServerKind::kRefusesOption:
      return {TARVOK_PYTHON_PATH, faulty, "refuse", "--port", portText, "--upstream", upstream};
    case ServerKind::kDrops:
      return {TARVOK_PYTHON_PATH,
              faulty,
              "drop",
              "--port",
              portText,
              "--upstream",
              upstream,
              "--after",
              std::to_string(setup.dropAfterBytes),
              "--drops",
              std::to_string(setup.drops)};
  }
  return {};
}

}  // namespace

std::string Ser2netYaml(const SerialServerSetup& setup, uint16_t port) {
  const bool telnet = setup.kind != ServerKind::kSer2netRaw;
  // local: the line has no modem lines to wait for (a pseudo-terminal has none).
  // kickolduser: a client that connects again while its last connection is still being torn
  // down is served, not turned away.
  return "%YAML 1.1\n"
         "---\n"
         "connection: &tarvok\n"
         "  accepter: " +
         std::string(telnet ? "telnet(rfc2217)," : "") + "tcp,127.0.0.1," + std::to_string(port) +
         "\n"
         "  enable: on\n"
         "  options:\n"
         "    kickolduser: true\n"
         "  connector: serialdev," +
         setup.device + "," + std::to_string(setup.lineRate) + "n81,local\n";
}

std::unique_ptr<SerialServer> SerialServer::Start(const SerialServerSetup& setup,
                                                  const std::string& folder, std::string* error) {
  std::string said;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const uint16_t port = FreePort();
    const std::string output = folder + "/server-" + std::to_string(port) + ".out";
    std::vector<std::string> args = {
        "/bin/sh", "-c", "o=$1; shift; exec \"$@\" >\"$o\" 2>&1 </dev/null", "sh", output};
    const std::vector<std::string> server = ServerArgs(setup, port, folder);
    args.insert(args.end(), server.begin(), server.end());
    auto process = std::make_unique<BackgroundProcess>(args);
    const Listening listening = WaitUntilListening(*process, port);
    if (listening == Listening::kYes) {
      return std::unique_ptr<SerialServer>(
          new SerialServer(setup.kind, port, output, std::move(process)));
    }
    said += "port " + std::to_string(port) +
            (listening == Listening::kTaken ? ": taken by another program\n" : ": ") +
            FileText(output) + "\n";
    if (listening == Listening::kNo && process->Wait(0) < 0) {
      break;  // it runs and never listened: another try would do the same
    }
  }
  if (error != nullptr) {
    *error = "the serial server did not listen: " + said;
  }
  return nullptr;
}

std::string SerialServer::PortName() const {
  return std::string(kind_ == ServerKind::kSer2netRaw ? "tcp" : "rfc2217") +
         "://127.0.0.1:" + std::to_string(port_);
}

std::string SerialServer::Output() const {
  return FileText(output_);
}

bool SerialServer::Running() {
  return process_->Wait(0) < 0;
}

}  // namespace tarvok::testing
