#include "burn/BurnSequence.h"

#include <algorithm>
#include <array>

#include "burn/BootStageLink.h"
#include "burn/Crc32.h"
#include "burn/LineOptions.h"
#include "rom/RomTR7340.h"

namespace tarvok {

namespace {

// Wakes the boot ROM, downloads the loader and starts it: 0 or the burn status.
uint32_t RunLoaderStage(LoaderJob& job, SerialPort& port, uint32_t& stepResult) {
  if (const uint32_t r = job.loader->Validate(nullptr); r != 0) {
    return r | kBurnStepLoaderCheck;
  }
  const BootRequest request{job.loader->data.get(), job.loader->size, job.startFn,
                            job.startUser,          job.progressFn,   job.progressUser};
  const std::unique_ptr<Rom_TR7340> rom = CreateRom(job.triesPerCycle, job.cycles);
  if (!rom) {
    return kBurnNoRomDriver;
  }
  DrainAndPurge(*port.handle);
  if (const uint32_t r = rom->Boot(port, request); r != 0) {
    stepResult = r;
    return r | kBurnStepBoot;
  }
  return kBurnOk;
}

// Wakes the boot ROM, has it start the boot stage, and lets the stage bring the loader in at
// the burn rate: 0 or the burn status. The loader then greets as if the boot ROM had started
// it.
uint32_t RunStagedLoaderStage(LoaderJob& job, SerialPort& port, uint32_t burnRate,
                              uint32_t& stepResult) {
  if (const uint32_t r = job.loader->Validate(nullptr);
      r != 0 || job.bootStageLength > kBootStageMaxBytes ||
      job.loader->size > kBootStageMaxLoaderBytes) {
    return (r != 0 ? r : kNotValid) | kBurnStepLoaderCheck;
  }
  // The boot ROM takes the stage as one whole block.
  std::array<uint8_t, kBootStageMaxBytes> stage{};
  std::copy_n(job.bootStage, job.bootStageLength, stage.begin());
  const std::unique_ptr<Rom_TR7340> rom = CreateRom(job.triesPerCycle, job.cycles);
  if (!rom) {
    return kBurnNoRomDriver;
  }
  uint32_t romRate = 0;
  if (port.GetBaudRate(romRate) != kPortOk) {
    return kBurnBaudRateUnreadable;
  }
  DrainAndPurge(*port.handle);
  const BootRequest request{stage.data(), kBootStageMaxBytes, job.startFn, job.startUser};
  if (const uint32_t r = rom->StartStage(port, kBootStageAddress, request); r != 0) {
    stepResult = r;
    return r | kBurnStepBoot;
  }
  const uint32_t total = kBootStageMaxBytes + job.loader->size;
  if (job.progressFn != nullptr) {
    job.progressFn(static_cast<uint8_t>(kBootStageMaxBytes * 100 / total), kBootStageMaxBytes,
                   total, job.progressUser);
  }
  const StageLoad load{job.loader->data.get(),
                       job.loader->size,
                       burnRate != 0 ? BaudCodeOfRate(burnRate) : uint8_t{0},
                       romRate,
                       job.progressFn,
                       job.progressUser,
                       kBootStageMaxBytes,
                       total};
  if (const uint32_t r = BootStageLink().BringLoaderIn(port, load); r != kStageOk) {
    stepResult = r;
    return kBurnBootStageFailed;
  }
  return kBurnOk;
}

// Asks the loader for the flash's CRC-32 over the image's range: 0 when it is the image's;
// 1-5 as LoaderLink::ReadFlashCrc; 6 it differs.
uint32_t ReadBackFlash(const LoaderLink& link, SerialPort& port, const FlashImage& image,
                       FlashReadBack& readBack) {
  readBack.asked = true;
  readBack.imageCrc = Crc32(image.data.get(), image.size);
  uint32_t crc = 0;
  const uint64_t askedAtMs = port.handle->ClockMs();
  const uint32_t r = link.ReadFlashCrc(port, crc);
  readBack.milliseconds = port.handle->ClockMs() - askedAtMs;
  if (r != 0) {
    return r;
  }
  readBack.answered = true;
  readBack.flashCrc = crc;
  return crc == readBack.imageCrc ? 0 : kReadBackDiffers;
}

// Flash parameters, image stream and, when asked, the read-back: 0 or the burn status, the
// failing step's own code in `failure`.
uint32_t WriteImage(const LoaderLink& link, SerialPort& port, const ImageJob& job,
                    uint32_t& failure) {
  FlashImage& image = *job.image;
  if (const uint32_t r = link.SetFlashParameters(port, &image); r != 0) {
    failure = r;
    return kBurnFlashParametersFailed;
  }
  if (const uint32_t r = link.StreamImage(port, &image, job.blockCount, job.startFn, job.startUser,
                                          job.progressFn, job.progressUser);
      r != 0) {
    failure = r;
    return kBurnImageStreamFailed;
  }
  if (job.readBack != nullptr) {
    if (const uint32_t r = ReadBackFlash(link, port, image, *job.readBack); r != 0) {
      failure = r;
      return kBurnReadBackFailed;
    }
  }
  return kBurnOk;
}

}  // namespace

uint32_t BurnOverHandle(LoaderJob* loaderJob, ImageJob* imageJob, PortRecord* portRecord,
                        LoaderHello* hello, uint32_t* stepResult) {
  if (portRecord == nullptr || loaderJob == nullptr || imageJob == nullptr ||
      imageJob->image == nullptr) {
    return kBurnMissingArgument;
  }
  if (portRecord->handle == nullptr) {
    return kBurnNoPort;
  }
  SerialPort port;
  port.handle = portRecord->handle;
  port.isOpen = 1;
  return BurnOverPort(loaderJob, imageJob, port, portRecord, hello, stepResult);
}

uint32_t BurnOverPort(LoaderJob* loaderJob, ImageJob* imageJob, SerialPort& port,
                      PortRecord* portRecord, LoaderHello* hello, uint32_t* stepResult) {
  uint32_t discardedResult = 0;
  uint32_t& failure = stepResult != nullptr ? *stepResult : discardedResult;
  failure = 0;
  if (portRecord == nullptr || loaderJob == nullptr || imageJob == nullptr ||
      imageJob->image == nullptr) {
    return kBurnMissingArgument;
  }
  FlashImage& image = *imageJob->image;
  if (const uint32_t r = image.Validate(nullptr); r != 0) {
    return r | kBurnStepImageCheck;
  }
  if (loaderJob->loader != nullptr) {
    const uint32_t r = loaderJob->bootStage != nullptr
                           ? RunStagedLoaderStage(*loaderJob, port, portRecord->burnRate, failure)
                           : RunLoaderStage(*loaderJob, port, failure);
    if (r != kBurnOk) {
      return r;
    }
  }

  const LoaderLink link;
  LoaderHello discardedHello;
  if (const uint32_t r = link.ReadHello(port, hello != nullptr ? hello : &discardedHello); r != 0) {
    return r;
  }
  uint32_t initialRate = 0;
  if (port.GetBaudRate(initialRate) != kPortOk) {
    return kBurnBaudRateUnreadable;
  }
  if (portRecord->burnRate != 0) {
    const uint8_t code = BaudCodeOfRate(portRecord->burnRate);
    if (link.SwitchBaud(port, code, loaderJob->echoRepeats) != 0) {
      // Carry on at the rate both sides started from.
      if (port.SetBaudRate(initialRate) != kPortOk) {
        return kBurnBaudRateNotRestored;
      }
    }
  }
  if (const uint32_t r = WriteImage(link, port, *imageJob, failure); r != kBurnOk) {
    return r;
  }
  // The rate change below lets the finish command leave the port before anything changes.
  link.Finish(port);
  if (port.SetBaudRate(initialRate) != kPortOk) {
    return kBurnBaudRateNotRestored;
  }
  return kBurnOk;
}

}  // namespace tarvok
