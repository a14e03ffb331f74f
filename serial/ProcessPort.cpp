#include "serial/ProcessPort.h"

namespace tarvok {

std::atomic<SerialDevice*> burnPortHandle{nullptr};
std::atomic<int32_t> burnRateIndex{0};

}  // namespace tarvok
