// ser2net serving one serial device on 127.0.0.1 through Telnet with the COM port control
// option, as rfc2217://127.0.0.1:PORT; started through the one spawner, stopped when this
// goes. (The tests start their servers through their own fixture; this is the benchmark's.)
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tarvok::bench {

// ser2net's defaults hold what the device sends back: its TCP waits, as Nagle's rule has it,
// while anything it sent before is unacknowledged, and it waits 1 ms for more characters
// before it sends at all.
struct Ser2netSettings {
  bool tcpNoDelay = false;
  bool charDelay = true;
};

class Ser2netBridge {
 public:
  // Port() is 0 when ser2net did not start or did not listen within a few seconds.
  Ser2netBridge(const std::string& program, const std::string& device,
                const Ser2netSettings& settings);
  ~Ser2netBridge();
  Ser2netBridge(const Ser2netBridge&) = delete;
  Ser2netBridge& operator=(const Ser2netBridge&) = delete;

  uint16_t Port() const { return port_; }
  std::string PortName() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace tarvok::bench
