// tarvok-test-serial-server: the tests' serial server for the shell scripts (the Windows
// tests under Wine), so that they start ser2net as the C++ tests do.
//
//   tarvok-test-serial-server ser2net|ser2net-raw|pyserial DEVICE [LINE_RATE]
//
// Prints the port's name (rfc2217://127.0.0.1:PORT or tcp://...) once the server listens,
// then runs until SIGTERM or SIGINT, and stops the server as it ends. Exit code 1 when the
// server did not start, 2 on a bad command line.
#include <signal.h>

#include <cstdio>
#include <string>

#include "tests/support/ScratchFolder.h"
#include "tests/support/SerialServer.h"

int main(int argc, char** argv) {
  using tarvok::testing::ServerKind;
  if (argc < 3 || argc > 4) {
    std::fputs("usage: tarvok-test-serial-server ser2net|ser2net-raw|pyserial DEVICE [RATE]\n",
               stderr);
    return 2;
  }
  const std::string kind = argv[1];
  tarvok::testing::SerialServerSetup setup;
  setup.device = argv[2];
  if (argc == 4) {
    setup.lineRate = static_cast<uint32_t>(std::stoul(argv[3]));
  }
  if (kind == "ser2net") {
    setup.kind = ServerKind::kSer2netRfc2217;
  } else if (kind == "ser2net-raw") {
    setup.kind = ServerKind::kSer2netRaw;
  } else if (kind == "pyserial") {
    setup.kind = ServerKind::kPyserialRfc2217;
  } else {
    std::fprintf(stderr, "tarvok-test-serial-server: no server kind %s\n", kind.c_str());
    return 2;
  }
  // Blocked from the start, so that a stop asked for at any time, even while the server
  // starts, waits for sigwait below and the server is stopped with this program. (The server
  // inherits the mask; it is stopped with SIGKILL.)
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  const tarvok::ScratchFolder folder;
  std::string error;
  const auto server = tarvok::testing::SerialServer::Start(setup, folder.PathOf(""), &error);
  if (server == nullptr) {
    std::fprintf(stderr, "tarvok-test-serial-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", server->PortName().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&stop, &received);
  return 0;
}
