// The host side of the boot stage (firmware/boot_stage_codes.h): once the boot ROM has started
// the stage, it hands it the loader at the burn rate and has it start the loader at the boot
// ROM's rate, so that the loader greets exactly as if the boot ROM had started it.
#pragma once

#include <cstdint>

#include "firmware/boot_stage_codes.h"
#include "rom/StageCallbacks.h"
#include "serial/SerialPort.h"

namespace tarvok {

inline constexpr uint32_t kBootStageAddress = BOOT_STAGE_ADDRESS;
inline constexpr uint32_t kBootStageMaxBytes = BOOT_STAGE_MAX_BYTES;
inline constexpr uint32_t kBootStageMaxLoaderBytes = BOOT_STAGE_MAX_LOADER_BYTES;

// Local results of BootStageLink::BringLoaderIn.
enum BootStageResult : uint32_t {
  kStageOk = 0,
  kStageNoHello = 1,         // the stage said nothing: it did not start, or is not a stage
  kStageNotAHello = 2,       // something else than the stage's hello arrived
  kStageCommandFailed = 3,   // the load command could not be written
  kStageNoAck = 4,           // the stage did not acknowledge the load command
  kStageRefusedLength = 5,   // the stage refused the loader's length
  kStageRateFailed = 6,      // the port did not take the burn rate or the boot ROM's again
  kStageNotReady = 7,        // no probe answered at the burn rate
  kStageLoaderNotSent = 8,   // writing the loader failed
  kStageNoVerdict = 9,       // the stage said nothing after the loader
  kStageLoaderDamaged = 10,  // the loader arrived with another CRC-32 than was sent
  kStageGoFailed = 11,       // the byte that starts the loader could not be written
};

struct StageLoad {
  const uint8_t* loader = nullptr;
  uint32_t length = 0;
  uint8_t baudCode = 0;  // the loader protocol's code of the burn rate; 0 keeps the ROM's
  uint32_t romRate = 0;  // what the port goes back to before the loader greets
  // Progress of the loader's bytes, `alreadyDone` of `total` having gone before them.
  StageProgressFn progressFn = nullptr;
  void* progressUser = nullptr;
  uint32_t alreadyDone = 0;
  uint32_t total = 0;
};

class BootStageLink {
 public:
  // The whole exchange, from the stage's hello to the byte that starts the loader.
  uint32_t BringLoaderIn(SerialPort& port, const StageLoad& load) const;
};

}  // namespace tarvok
