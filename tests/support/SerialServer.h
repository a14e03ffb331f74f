// A serial server on 127.0.0.1 for a test: a real one (ser2net, pyserial's RFC 2217 server)
// in front of a simulated chip's pseudo-terminal, or one of the tests' own with a fault, in
// front of a real one. Each listens on a port picked for it, runs as a child of the test
// (started by the one spawner), writes what it says to a file in the test's folder, and is
// killed and reaped when the SerialServer goes away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Subprocess.h"

namespace tarvok::testing {

enum class ServerKind {
  kSer2netRfc2217,   // ser2net's Telnet accepter with the COM port control option
  kSer2netRaw,       // ser2net's raw TCP accepter: data only, the line at `lineRate`
  kPyserialRfc2217,  // pyserial's RFC 2217 server example
  kSilent,           // takes connections and never reads or answers
  kRefusesOption,    // Telnet that refuses the COM port control option, data to `upstream`
  kDrops,            // passes bytes to `upstream` and closes after `dropAfterBytes`
};

struct SerialServerSetup {
  ServerKind kind = ServerKind::kSer2netRfc2217;
  std::string device;        // the pseudo-terminal the real servers open
  uint32_t lineRate = 9600;  // the line's rate until a client sets another
  uint16_t upstream = 0;     // the real server the faulty ones pass data to (raw or Telnet)
  uint32_t dropAfterBytes = 0;
  uint32_t drops = 1;  // connections kDrops closes early before it passes the next ones whole
};

class SerialServer {
 public:
  // Null, with `error` saying why, when the server did not listen within some seconds.
  // `folder` holds its configuration and its output.
  static std::unique_ptr<SerialServer> Start(const SerialServerSetup& setup,
                                             const std::string& folder, std::string* error);
  ~SerialServer() = default;  // the process is killed and reaped
  SerialServer(const SerialServer&) = delete;
  SerialServer& operator=(const SerialServer&) = delete;

  uint16_t Port() const { return port_; }
  // The port's name for tarvok: "rfc2217://127.0.0.1:PORT", or "tcp://..." for the raw one.
  std::string PortName() const;
  // What the server has written to its standard output and error so far.
  std::string Output() const;
  // True while its process runs.
  bool Running();

 private:
  SerialServer(ServerKind kind, uint16_t port, std::string output,
               std::unique_ptr<BackgroundProcess> process)
      : kind_(kind), port_(port), output_(std::move(output)), process_(std::move(process)) {}

  ServerKind kind_;
  uint16_t port_;
  std::string output_;
  std::unique_ptr<BackgroundProcess> process_;
};

// ser2net's configuration for `device`, with its accepter on 127.0.0.1:`port`.
std::string Ser2netYaml(const SerialServerSetup& setup, uint16_t port);

}  // namespace tarvok::testing
