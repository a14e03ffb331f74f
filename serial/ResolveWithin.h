// A host's addresses, looked up within a time limit: the system's resolver has time-outs of its
// own, some far longer than a connection's. Shared by the sockets of both platforms.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <cstdint>
#include <optional>
#include <string>

#include "serial/BoundedCall.h"

namespace tarvok {

struct Resolved {
  int code;
  addrinfo* addresses;  // null unless `code` is 0; the caller frees it with freeaddrinfo
};

// getaddrinfo for `host` and `port` with `hints`, or nullopt when it did not end within
// `timeoutMs` (a result that comes later is freed then).
inline std::optional<Resolved> ResolveWithin(const std::string& host, uint16_t port,
                                             const addrinfo& hints, uint32_t timeoutMs) {
  const std::string service = std::to_string(port);
  return CallWithin<Resolved>(
      [host, service, hints] {
        addrinfo* list = nullptr;
        const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        return Resolved{code, code == 0 ? list : nullptr};
      },
      [](const Resolved& late) {
        if (late.addresses != nullptr) {
          freeaddrinfo(late.addresses);
        }
      },
      timeoutMs);
}

}  // namespace tarvok
