#include "app/PortIdentity.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "serial/NetworkPortName.h"
#include "serial/PortDiscovery.h"

namespace tarvok {

// "COM1001" names a port from `tarvok ports`. COM names ignore case, as Windows does when it
// opens them: com5 is COM5.
bool IsComName(const std::string& name) {
  return name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(name[2])) == 'M' && PortNumberOfName(name) != 0;
}

// The device a --port names, or empty when it names none. Anything but a COM name must be a
// path: a bare word such as "foo5" is a slip, not COM5.
std::string ResolvePort(const std::string& name) {
  if (IsComName(name)) {
    return DevicePathForPortName(name);
  }
  const bool isPath = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
  return isPath ? name : std::string();
}

// The device itself, to tell one port given twice: through any symbolic links, and on Windows
// whatever the case of its name (\\.\com5 is \\.\COM5). A network port is its server's
// host and port, whatever the case of the scheme and the host.
std::string DeviceIdentity(const std::string& device) {
  if (NetworkPortName network; ParseNetworkPortName(device, network) == NetworkNameParse::kOk) {
    std::transform(network.host.begin(), network.host.end(), network.host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return NetworkPortNameText(network);
  }
#ifdef _WIN32
  std::string identity = device;
  std::transform(identity.begin(), identity.end(), identity.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return identity;
#else
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(device, error);
  return error ? device : resolved.string();
#endif
}

}  // namespace tarvok
