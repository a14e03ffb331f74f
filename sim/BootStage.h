// The boot stage as the host sees it over the wire, once the boot ROM has started it at
// BOOT_STAGE_ADDRESS: its hello at the boot ROM's rate, the load command, probes answered at
// the rate the command named, the loader's bytes checked against their CRC-32, and the go
// that hands the chip to the loader. A pure byte-in, bytes-out state machine, as strict as
// the stage firmware: it keeps no time, refuses a length it cannot take or a loader that
// arrived damaged and then falls silent, and nothing but the go starts the loader.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/RamProgram.h"

namespace tarvok::sim {

// How far the boot stage got, for the chip's report.
struct BootStageStats {
  bool started = false;        // the boot ROM started the program at BOOT_STAGE_ADDRESS
  bool silent = false;         // nothing ran there that answers (a fault)
  bool nothingThere = false;   // nothing was downloaded there: the CPU ran empty RAM
  bool emulated = false;       // the emulated CPU ran what was there; it keeps no record
  bool loadCommand = false;    // the load command was taken (its length was acceptable)
  uint32_t loaderRate = 0;     // the rate the loader came in at
  uint32_t probes = 0;         // probes answered
  uint32_t loaderBytes = 0;    // loader bytes received
  bool loaderArrived = false;  // every loader byte arrived and their CRC-32 matched
  bool refused = false;        // the stage answered 0xB6 and stopped
  bool loaderStarted = false;  // the go arrived and the loader runs
};

class BootStage : public RamProgram {
 public:
  explicit BootStage(uint32_t romRate);

  // The stage's hello.
  void Start(std::vector<uint8_t>& out) override;
  void Receive(uint8_t byte, std::vector<uint8_t>& out) override;
  void OnSilence(std::vector<uint8_t>&) override {}  // the stage keeps no time
  uint32_t Rate() const override { return rate_; }
  void SettleRate() override { rate_ = nextRate_; }
  LoaderStats Stats() const override { return LoaderStats{}; }

  // The go arrived: the chip now runs the loader the stage brought in.
  bool LoaderStarts() const { return stats_.loaderStarted; }
  const BootStageStats& StageStats() const { return stats_; }
  // The loader's bytes as they arrived, for BOOT_STAGE_LOADER_ADDRESS on.
  const std::vector<uint8_t>& LoaderBytes() const { return loader_; }

 private:
  enum class State { kAwaitLoad, kLoadArguments, kProbing, kLoaderBytes, kAwaitGo, kStopped };

  void LoadArgumentsComplete(std::vector<uint8_t>& out);
  void LoaderComplete(std::vector<uint8_t>& out);
  void Refuse(std::vector<uint8_t>& out);

  const uint32_t romRate_;
  uint32_t rate_;
  uint32_t nextRate_;
  State state_ = State::kAwaitLoad;
  std::vector<uint8_t> arguments_;
  uint32_t length_ = 0;
  uint32_t crc_ = 0;
  std::vector<uint8_t> loader_;
  BootStageStats stats_;
};

}  // namespace tarvok::sim
