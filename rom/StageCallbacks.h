// Callbacks through which a burn stage reports its start and its progress. Both run
// synchronously on the burn worker thread; every caller ignores their results.
#pragma once

#include <cstdint>

namespace tarvok {

using StageStartFn = int32_t (*)(void* user);
using StageProgressFn = int32_t (*)(uint8_t percent, uint32_t done, uint32_t total, void* user);

}  // namespace tarvok
