// A TCP proxy that puts a round trip between its clients and a server, as a distant serial
// server would: every byte is handed on half the added round trip after it arrived, in both
// directions. Each arrival keeps its own time stamp, so a stream of small writes is each
// delayed once rather than the delays adding up, and the order of the bytes never changes.
// A side's end (or its reset) reaches the other side the same half round trip later.
//
// For the benchmark and the tests on one machine; no product links it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace tarvok::delayproxy {

struct ProxyConfig {
  uint16_t listenPort = 0;  // on 127.0.0.1; 0 lets the system choose
  std::string targetHost = "127.0.0.1";
  uint16_t targetPort = 0;
  uint32_t addedRoundTripUs = 0;  // half of it each way
};

enum class ProxyStart { kOk, kNoSocket, kNoListen, kNoTarget };

// Forwards on its own thread from Start() until it is destroyed, which closes every
// connection it holds.
class DelayProxy {
 public:
  static std::unique_ptr<DelayProxy> Start(const ProxyConfig& config, ProxyStart& result);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  uint16_t Port() const { return port_; }

 private:
  DelayProxy(const ProxyConfig& config, int listener, uint16_t port, int wakeRead, int wakeWrite);
  void Run();

  ProxyConfig config_;
  int listener_;
  uint16_t port_;
  int wakeRead_;  // written to on destruction, so that the loop ends
  int wakeWrite_;
  std::thread thread_;
};

}  // namespace tarvok::delayproxy
