#include "burn/BurnSequence.h"

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
    if (const uint32_t r = RunLoaderStage(*loaderJob, port, failure); r != kBurnOk) {
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
  if (const uint32_t r = link.SetFlashParameters(port, &image); r != 0) {
    failure = r;
    return kBurnFlashParametersFailed;
  }
  if (const uint32_t r =
          link.StreamImage(port, &image, imageJob->blockCount, imageJob->startFn,
                           imageJob->startUser, imageJob->progressFn, imageJob->progressUser);
      r != 0) {
    failure = r;
    return kBurnImageStreamFailed;
  }
  // The rate change below lets the finish command leave the port before anything changes.
  link.Finish(port);
  if (port.SetBaudRate(initialRate) != kPortOk) {
    return kBurnBaudRateNotRestored;
  }
  return kBurnOk;
}

}  // namespace tarvok
