// Port names that reach a serial port over the network, through a serial server:
//
//   rfc2217://HOST:PORT   Telnet with the COM port control option (RFC 2217): data, and the
//                         line's rate, settings, purges and modem lines through the server.
//   tcp://HOST:PORT       a raw TCP connection: data only, the line as the server set it.
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]); PORT is 1 to 65535.
// This is the one reader of such names: discovery, opening and the request's checks all ask
// it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

enum class NetworkScheme { kRfc2217, kRawTcp };

struct NetworkPortName {
  NetworkScheme scheme = NetworkScheme::kRfc2217;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

enum class NetworkNameParse {
  kNotNetwork,     // no scheme: a local port's name or path
  kOk,             // a network port; `name` is filled
  kUnknownScheme,  // "xyz://...": a scheme this tool does not speak
  kMalformed,      // a known scheme without a host, or without a port of 1 to 65535
};

NetworkNameParse ParseNetworkPortName(const std::string& text, NetworkPortName& name);
// True when `text` is a network port's name, well formed or not (it has a scheme).
bool HasNetworkScheme(const std::string& text);
// The name as this tool writes it: "rfc2217://host:port", "tcp://[::1]:port".
std::string NetworkPortNameText(const NetworkPortName& name);

// The entries of a ':'-separated list of ports (TARVOK_EXTRA_PORTS), where a network port's
// name keeps its own colons: "/dev/pts/3:rfc2217://host:2000:tcp://[::1]:2001" has three
// entries. Empty entries are dropped.
std::vector<std::string> SplitPortList(const std::string& list);

}  // namespace tarvok
