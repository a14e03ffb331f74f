// The spine of one burn: validate the descriptors, wake the boot ROM and start the RAM
// loader, then hello, baud switch, flash parameters, image stream and finish, and put the
// port back to the rate it had. The result is the burn status, 0 for success; its value
// names the step that failed.
#pragma once

#include <cstdint>

#include "burn/FlashImage.h"
#include "burn/LoaderImage.h"
#include "burn/LoaderLink.h"
#include "rom/StageCallbacks.h"
#include "serial/SerialPort.h"

namespace tarvok {

// Burn status values.
inline constexpr uint32_t kBurnOk = 0;
inline constexpr uint32_t kBurnMissingArgument = 2;
inline constexpr uint32_t kBurnNoPort = 3;
inline constexpr uint32_t kBurnStepImageCheck = 5;   // OR-ed into 0x500: 0x505
inline constexpr uint32_t kBurnStepLoaderCheck = 4;  // OR-ed into 0x500: 0x504
inline constexpr uint32_t kBurnStepBoot = 6;         // OR-ed into the Boot result
inline constexpr uint32_t kBurnNoRomDriver = 0x20006;
inline constexpr uint32_t kBurnBaudRateUnreadable = 11;
inline constexpr uint32_t kBurnBaudRateNotRestored = 12;
inline constexpr uint32_t kBurnFlashParametersFailed = 13;
inline constexpr uint32_t kBurnImageStreamFailed = 14;
// The flash did not read back as the image, or the loader did not answer the request.
inline constexpr uint32_t kBurnReadBackFailed = 15;
// The boot stage did not bring the loader in (kBootStageFailed OR kBurnStepBoot).
inline constexpr uint32_t kBurnBootStageFailed = 0xD0006;
// The read-back's own result when the loader's CRC-32 is not the image's (1-5 are
// LoaderLink::ReadFlashCrc's).
inline constexpr uint32_t kReadBackDiffers = 6;

// Handshake budget a burn gives the boot ROM.
inline constexpr uint32_t kBurnTriesPerCycle = 200;
inline constexpr uint32_t kBurnCycles = 20;

struct PortRecord {
  SerialDevice* handle = nullptr;
  // The rate of the image transfer; 0 keeps the rate the loader greeted at.
  uint32_t burnRate = 0;
};

struct LoaderJob {
  LoaderImage* loader = nullptr;  // null skips the whole loader stage
  StageStartFn startFn = nullptr;
  void* startUser = nullptr;
  StageProgressFn progressFn = nullptr;
  void* progressUser = nullptr;
  uint32_t triesPerCycle = 0;
  uint32_t cycles = 0;
  uint8_t echoRepeats = 0;
  // The boot stage that brings the loader in at the burn rate (at most kBootStageMaxBytes);
  // null: the boot ROM downloads the loader itself.
  const uint8_t* bootStage = nullptr;
  uint32_t bootStageLength = 0;
};

// What the loader said when asked for the flash's CRC-32 after the image.
struct FlashReadBack {
  bool asked = false;
  bool answered = false;
  uint32_t imageCrc = 0;
  uint32_t flashCrc = 0;
  uint64_t milliseconds = 0;  // from the request to the answer, on the port's clock
};

struct ImageJob {
  FlashImage* image = nullptr;
  uint32_t blockCount = 0;  // progress steps of the stream; 0 derives them from the size
  StageStartFn startFn = nullptr;
  void* startUser = nullptr;
  StageProgressFn progressFn = nullptr;
  void* progressUser = nullptr;
  // Not null: once the image is in, ask the loader for the flash's CRC-32 and fail the burn
  // unless it is the image's; what was asked and answered goes here.
  FlashReadBack* readBack = nullptr;
};

// The records of one burn run, owned by the run.
struct BurnContext {
  PortRecord portRecord;
  LoaderJob loaderJob;
  ImageJob imageJob;
  LoaderHello hello;
  FlashReadBack readBack;
};

// `stepResult`, when given, receives the failing step's own code (0 when none failed): the
// burn status names the step, this says what went wrong in it (why the stream failed, say).
uint32_t BurnOverHandle(LoaderJob* loaderJob, ImageJob* imageJob, PortRecord* portRecord,
                        LoaderHello* hello, uint32_t* stepResult = nullptr);
uint32_t BurnOverPort(LoaderJob* loaderJob, ImageJob* imageJob, SerialPort& port,
                      PortRecord* portRecord, LoaderHello* hello, uint32_t* stepResult = nullptr);

}  // namespace tarvok
