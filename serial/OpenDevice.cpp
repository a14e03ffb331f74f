#include "serial/OpenDevice.h"

#include <string>
#include <utility>

#include "serial/NetworkPortName.h"
#include "serial/NetworkSerialDevice.h"
#include "serial/TcpStream.h"

namespace tarvok {
namespace {

OpenResult FailedNetworkOpen(const std::string& path, const std::string& what) {
  OpenResult result;
  result.failure = OpenFailure::kOther;
  result.reason = path + ": " + what;
  return result;
}

OpenResult OpenNetworkSerialDevice(const std::string& path, const NetworkPortName& name) {
  ConnectResult connection = ConnectTcp(name.host, name.port, kNetworkConnectTimeoutMs);
  switch (connection.failure) {
    case ConnectFailure::kNone:
      break;
    case ConnectFailure::kUnknownHost:
      return FailedNetworkOpen(path, "unknown host");
    case ConnectFailure::kRefused:
      return FailedNetworkOpen(path, "connection refused (is the serial server running?)");
    case ConnectFailure::kTimedOut:
      return FailedNetworkOpen(
          path, "no answer within " + std::to_string(kNetworkConnectTimeoutMs / 1000) + " s");
    default:
      return FailedNetworkOpen(path, connection.systemText);
  }
  auto device = std::make_unique<NetworkSerialDevice>(std::move(connection.stream), name.scheme);
  // A server that takes the connection but never speaks Telnet (a raw TCP server named as
  // rfc2217://, or one that hangs) is told at the open, not by a chip that seems silent.
  switch (device->AwaitServer(NetworkSerialDevice::kAcknowledgementWaitUs)) {
    case NetworkSerialDevice::ServerWord::kAnswered:
      break;
    case NetworkSerialDevice::ServerWord::kSilent:
      return FailedNetworkOpen(
          path, "the server did not answer the RFC 2217 negotiation within " +
                    std::to_string(NetworkSerialDevice::kAcknowledgementWaitUs / 1000000) +
                    " s (a raw TCP server is named tcp://HOST:PORT)");
    case NetworkSerialDevice::ServerWord::kGone:
      return FailedNetworkOpen(path,
                               "the server closed the connection (another client may hold the "
                               "port)");
  }
  OpenResult result;
  result.device = std::move(device);
  return result;
}

}  // namespace

OpenResult OpenSerialDevice(const std::string& path) {
  NetworkPortName name;
  switch (ParseNetworkPortName(path, name)) {
    case NetworkNameParse::kNotNetwork:
      return OpenLocalSerialDevice(path);
    case NetworkNameParse::kOk:
      return OpenNetworkSerialDevice(path, name);
    case NetworkNameParse::kUnknownScheme:
      return FailedNetworkOpen(
          path, "not a kind of port this tool knows (rfc2217://HOST:PORT or tcp://HOST:PORT)");
    case NetworkNameParse::kMalformed:
      break;
  }
  const std::string form = path.substr(0, path.find("://")) + "://HOST:PORT, PORT from 1 to 65535";
  return FailedNetworkOpen(path, "a host and a port number are needed (" + form + ")");
}

OpenResult FailedOpen(OpenFailure failure, const std::string& path, const std::string& forbidden,
                      const std::string& otherError) {
  OpenResult result;
  result.failure = failure;
  switch (failure) {
    case OpenFailure::kMissing:
      result.reason = path + ": no such device";
      break;
    case OpenFailure::kBusy:
      result.reason = path + ": in use by another program";
      break;
    case OpenFailure::kForbidden:
      result.reason = path + ": " + forbidden;
      break;
    case OpenFailure::kNotATty:
      result.reason = path + ": not a serial port";
      break;
    default:
      result.reason = path + ": " + otherError;
      break;
  }
  return result;
}

}  // namespace tarvok
