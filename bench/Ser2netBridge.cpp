#include "bench/Ser2netBridge.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tools/spawn/Spawn.h"

namespace tarvok::bench {

namespace {

// A port on 127.0.0.1 that nothing listens on now (the system's choice), or 0.
uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  const bool bound = fd >= 0 &&
                     bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (fd >= 0) {
    close(fd);
  }
  return bound ? ntohs(address.sin_port) : 0;
}

// Whether a socket listens on 127.0.0.1:port, from the kernel's table: connecting to find
// out would open a session, and with it the serial device.
bool ListeningOn(uint16_t port) {
  char wanted[32];
  std::snprintf(wanted, sizeof(wanted), "0100007F:%04X", port);
  std::ifstream table("/proc/net/tcp");
  std::string slot, local, remote, state;
  std::string rest;
  std::getline(table, rest);  // the heading
  while (table >> slot >> local >> remote >> state) {
    if (local == wanted && state == "0A") {  // TCP_LISTEN
      return true;
    }
    std::getline(table, rest);
  }
  return false;
}

}  // namespace

Ser2netBridge::Ser2netBridge(const std::string& program, const std::string& device,
                             const Ser2netSettings& settings) {
  const uint16_t port = FreeLoopbackPort();
  if (port == 0) {
    return;
  }
  // -u: no UUCP lock files (they belong to the system's serial ports, not to a
  // pseudo-terminal); "local": no modem lines to watch.
  spawn::SpawnRequest request;
  request.args = {program,
                  "-n",
                  "-u",
                  "-Y",
                  "connection: &bench",
                  "-Y",
                  std::string("  accepter: telnet(rfc2217),") +
                      (settings.tcpNoDelay ? "tcp(nodelay)" : "tcp") + ",127.0.0.1," +
                      std::to_string(port),
                  "-Y",
                  "  connector: serialdev," + device + ",9600n81,local",
                  "-Y",
                  "  options:",
                  "-Y",
                  std::string("    chardelay: ") + (settings.charDelay ? "true" : "false")};
  request.out = spawn::Sink::kNull;
  request.err = spawn::Sink::kNull;
  pid_ = spawn::Spawn(request).pid;
  for (int i = 0; i < 500 && pid_ > 0; ++i) {
    if (ListeningOn(port)) {
      port_ = port;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Ser2netBridge::~Ser2netBridge() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace tarvok::bench
