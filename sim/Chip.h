// A whole simulated TR7340 as the host sees it over the wire: a running application that
// only listens for the sentence that sends it back to its boot ROM, the boot ROM, and the
// RAM loader the ROM starts (at 0xC00, or through the boot stage it starts at 0xB00), over a
// NOR flash.
//
// The chip hears bytes as its UART received them: a transport that carries bytes between the
// host and the chip garbles each byte sent while the two sides' rates differ (Garble).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/BootRom.h"
#include "sim/BootStage.h"
#include "sim/CpuLoader.h"

#ifndef TARVOK_EMULATED_CPU
#define TARVOK_EMULATED_CPU 0
#endif
#include "sim/Flash.h"
#include "sim/Loader.h"
#include "sim/WakeSentence.h"

namespace tarvok::sim {

struct ChipOptions {
  uint32_t romRate = 9600;  // the rate of the application and the boot ROM
  uint32_t flashBytes = 8 * 1024 * 1024;
  uint8_t flashFill = 0x00;             // what the flash holds before the burn...
  std::vector<uint8_t> flashAtStart;    // ...but for these bytes from address 0 on
  bool startInLoader = false;           // the loader already runs and is about to say hello
  bool silent = false;                  // never answers anything
  bool noHandshake = false;             // the boot ROM does not answer the handshake
  bool wrongEcho = false;               // the boot ROM garbles the echo of the first data byte
  bool wrongChecksum = false;           // the boot ROM's checksum answer is off
  bool noExecute = false;               // the boot ROM does not answer 0xA8
  bool stageSilent = false;             // nothing that answers runs at the boot stage's address
  uint32_t stuckCell = Flash::kNoCell;  // this flash cell takes no bits when programmed
  LoaderFaults loader;
  // The boot ROM hands RAM to an emulated ARM926 that runs what was downloaded, instead of
  // the C++ model of our loader. A chip that starts in the loader runs `programInRam` from
  // 0xC00.
  bool cpu = false;
  std::vector<uint8_t> programInRam;
  CpuFaults cpuFaults;
};

class Chip {
 public:
  enum class Mode { kApplication, kBootRom, kLoader };

  explicit Chip(const ChipOptions& options);

  // What the chip says on its own once someone listens: the hello of a loader that already
  // runs (once only).
  void PowerOn(std::vector<uint8_t>& out);
  void Receive(uint8_t byte, std::vector<uint8_t>& out);
  void OnSilence(std::vector<uint8_t>& out);

  // The chip UART's rate. A switch the loader has acknowledged takes effect at SettleRate,
  // which a transport calls once the acknowledgement is on its way.
  uint32_t Rate() const;
  void SettleRate();

  Mode CurrentMode() const { return mode_; }
  const Flash& FlashMemory() const { return flash_; }
  const BootRom& Rom() const { return rom_; }
  // Null until the boot ROM (or the boot stage) has started the loader.
  const RamProgram* RunningLoader() const { return loader_.get(); }
  // How far the boot stage got; all false when the boot ROM never started one.
  BootStageStats StageStats() const;

  // How an emulated CPU reaches the transport; needed before the CPU starts.
  void ConnectCpu(const CpuLink& link) { cpuLink_ = link; }
  // Stops an emulated CPU for good; the caller does not hold the link's lock.
  void HaltCpu();
  bool BurnEnded() const { return loader_ && loader_->Stats().finished; }
  // Reboot sentences heard before the loader started: one for each handshake cycle the host
  // needed to wake the boot ROM.
  uint32_t SentencesHeard() const { return sentencesHeard_; }
  // The image the loader accepted is complete and the flash holds it where it was sent.
  bool FlashHoldsAcceptedImage() const;
  // The flash holds `image` from address 0 on.
  bool FlashHolds(const std::vector<uint8_t>& image) const;

 private:
  void StartProgram(std::vector<uint8_t>& out);
  bool RamHoldsProgramAt(uint32_t address, uint32_t bytes) const;
  void StartLoader(std::vector<uint8_t>& out);

  ChipOptions options_;
  Mode mode_;
  Flash flash_;
  BootRom rom_;
  std::unique_ptr<BootStage> stage_;  // the C++ model of the boot stage, once started
  BootStageStats stageStats_;         // what the chip knows of a stage the model does not run
  std::unique_ptr<RamProgram> loader_;
  CpuLink cpuLink_;
  WakeSentence wakeSentence_;
  uint32_t sentencesHeard_ = 0;
};

// The flash against the image the burn was to leave in it, from address 0 on.
struct ImageCheck {
  bool holds = false;
  uint32_t firstDifference = 0;  // when it does not hold: the first address that differs...
  uint8_t flashByte = 0;         // ...what the flash holds there...
  uint8_t imageByte = 0;         // ...and what the image has
};

ImageCheck CheckImage(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image);

// What a UART makes of a byte sent at another rate: never the byte itself.
uint8_t Garble(uint8_t byte);

}  // namespace tarvok::sim
