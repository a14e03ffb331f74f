#include <unistd.h>

#include "station/records/UnitRecord.h"

namespace tarvok {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) {
    return {};
  }
  return name;
}

}  // namespace tarvok
