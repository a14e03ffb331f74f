// tarvok-delay-proxy: puts a round trip between a network port's clients and its serial
// server, for trying tarvok against a distant server on one machine. Prints the port it
// listens on, then forwards until it is interrupted or terminated.
#include <csignal>
#include <cstdio>

#include <CLI/CLI.hpp>

#include "tools/delay-proxy/DelayProxy.h"

int main(int argc, char** argv) {
  tarvok::delayproxy::ProxyConfig config;
  double roundTripMs = 0;
  CLI::App app{"TCP proxy that adds a round trip, half each way"};
  app.add_option("--listen", config.listenPort, "port on 127.0.0.1 (0: any free one)");
  app.add_option("--host", config.targetHost, "the server's host");
  app.add_option("--port", config.targetPort, "the server's port")->required();
  app.add_option("--rtt-ms", roundTripMs, "the round trip to add, in milliseconds")
      ->check(CLI::Range(0.0, 10000.0));
  CLI11_PARSE(app, argc, argv);
  config.addedRoundTripUs = static_cast<uint32_t>(roundTripMs * 1000);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before the proxy's thread starts
  tarvok::delayproxy::ProxyStart result{};
  const auto proxy = tarvok::delayproxy::DelayProxy::Start(config, result);
  if (!proxy) {
    std::fprintf(stderr, "cannot %s\n",
                 result == tarvok::delayproxy::ProxyStart::kNoTarget ? "resolve the server's host"
                                                                     : "listen");
    return 1;
  }
  std::printf("%u\n", proxy->Port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  return 0;
}
