#include "serial/OpenDevice.h"

namespace tarvok {

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
