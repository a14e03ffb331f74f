#include "sim/Chip.h"

#include <algorithm>

#include "firmware/boot_stage_codes.h"

namespace tarvok::sim {
namespace {

// Builds without Unicorn (the Windows test build) have the C++ loader model only.
constexpr bool kHasEmulatedCpu = TARVOK_EMULATED_CPU != 0;

constexpr uint32_t kLoaderAddress = BOOT_STAGE_LOADER_ADDRESS;

}  // namespace

uint8_t Garble(uint8_t byte) {
  // rotl(b, 3) ^ b always has an even number of set bits and 0xA7 an odd one.
  return static_cast<uint8_t>(((byte << 3) | (byte >> 5)) ^ 0xA7);
}

Chip::Chip(const ChipOptions& options)
    : options_(options),
      mode_(options.startInLoader ? Mode::kLoader : Mode::kApplication),
      flash_(options.flashBytes, options.flashFill) {
  flash_.Preload(options.flashAtStart);
  flash_.SetStuckCell(options.stuckCell);
  rom_.answerHandshake = !options.noHandshake;
  rom_.corruptNextDataEcho = options.wrongEcho;
  rom_.wrongChecksum = options.wrongChecksum;
  rom_.knowsExecute = !options.noExecute;
}

void Chip::PowerOn(std::vector<uint8_t>& out) {
  // Only a chip that starts in its loader greets on power-on; a boot stage that runs has said
  // its hello already, and the loader it brings in greets when the stage starts it.
  if (mode_ == Mode::kLoader && !loader_ && !stage_ && !options_.silent) {
    StartLoader(out);
  }
}

void Chip::StartLoader(std::vector<uint8_t>& out) {
  mode_ = Mode::kLoader;
  if (!options_.cpu) {
    loader_ = std::make_unique<Loader>(flash_, options_.romRate, options_.loader);
  } else if (kHasEmulatedCpu && cpuLink_.lock != nullptr) {
#if TARVOK_EMULATED_CPU
    std::vector<uint8_t> ram = rom_.Ram();
    uint32_t start = rom_.StartAddress();
    if (!rom_.Started()) {
      start = kLoaderAddress;
      ram.resize(std::max<std::size_t>(ram.size(), kLoaderAddress + options_.programInRam.size()));
      std::copy(options_.programInRam.begin(), options_.programInRam.end(),
                ram.begin() + kLoaderAddress);
    }
    loader_ = std::make_unique<CpuLoader>(flash_, std::move(ram), start, options_.romRate, cpuLink_,
                                          options_.cpuFaults);
#endif
  } else {
    options_.silent = true;  // a CPU with no way out
    return;
  }
  loader_->Start(out);
}

void Chip::HaltCpu() {
#if TARVOK_EMULATED_CPU
  if (auto* cpu = dynamic_cast<CpuLoader*>(loader_.get())) {
    cpu->Halt();
  }
#endif
}

// What the boot ROM's 0xA8 starts: the loader at 0xC00, the boot stage at 0xB00 (its C++
// model, or on the emulated CPU whatever was downloaded there), or anything on the CPU.
void Chip::StartProgram(std::vector<uint8_t>& out) {
  const uint32_t start = rom_.StartAddress();
  if (start == BOOT_STAGE_ADDRESS) {
    stageStats_.started = true;
    if (options_.stageSilent) {
      stageStats_.silent = true;
      options_.silent = true;
      return;
    }
    if (!options_.cpu && !RamHoldsProgramAt(BOOT_STAGE_ADDRESS, BOOT_STAGE_MAX_BYTES)) {
      stageStats_.nothingThere = true;
      options_.silent = true;  // empty RAM answers nothing
      return;
    }
    if (!options_.cpu) {
      mode_ = Mode::kLoader;
      stage_ = std::make_unique<BootStage>(options_.romRate);
      stage_->Start(out);
      return;
    }
    stageStats_.emulated = true;
  }
  if (start == kLoaderAddress || options_.cpu) {
    StartLoader(out);
  } else {
    options_.silent = true;  // jumped into nowhere
  }
}

// Something was downloaded into [address, address + bytes): RAM starts out zeroed.
bool Chip::RamHoldsProgramAt(uint32_t address, uint32_t bytes) const {
  const std::vector<uint8_t>& ram = rom_.Ram();
  const std::size_t first = std::min<std::size_t>(address, ram.size());
  const std::size_t last = std::min<std::size_t>(std::size_t{address} + bytes, ram.size());
  return std::any_of(ram.begin() + static_cast<std::ptrdiff_t>(first),
                     ram.begin() + static_cast<std::ptrdiff_t>(last),
                     [](uint8_t byte) { return byte != 0; });
}

BootStageStats Chip::StageStats() const {
  return stage_ ? stage_->StageStats() : stageStats_;
}

uint32_t Chip::Rate() const {
  return loader_ ? loader_->Rate() : stage_ ? stage_->Rate() : options_.romRate;
}

void Chip::SettleRate() {
  if (loader_) {
    loader_->SettleRate();
  } else if (stage_) {
    stage_->SettleRate();
  }
}

void Chip::Receive(uint8_t byte, std::vector<uint8_t>& out) {
  if (options_.silent) {
    return;
  }
  if (mode_ != Mode::kLoader) {
    if (wakeSentence_.Hear(byte)) {
      ++sentencesHeard_;
    }
  }
  switch (mode_) {
    case Mode::kApplication:
      // A running receiver ignores everything but the sentence that reboots it.
      if (sentencesHeard_ > 0) {
        mode_ = Mode::kBootRom;
      }
      return;
    case Mode::kBootRom:
      rom_.Receive(byte, out);
      if (rom_.Started()) {
        StartProgram(out);
      }
      return;
    case Mode::kLoader:
      if (loader_) {
        loader_->Receive(byte, out);
      } else if (stage_) {
        stage_->Receive(byte, out);
        if (stage_->LoaderStarts()) {
          StartLoader(out);  // the loader greets at the boot ROM's rate
        }
      }
      return;
  }
}

bool Chip::FlashHoldsAcceptedImage() const {
  const AcceptedStream* accepted = loader_ ? loader_->Accepted() : nullptr;
  if (accepted == nullptr || !accepted->complete) {
    return false;
  }
  const AcceptedStream& stream = *accepted;
  for (std::size_t k = 0; k < stream.image.size(); ++k) {
    if (flash_.At(static_cast<uint32_t>(stream.startAddress + k)) != stream.image[k]) {
      return false;
    }
  }
  return true;
}

bool Chip::FlashHolds(const std::vector<uint8_t>& image) const {
  return CheckImage(flash_.Cells(), image).holds;
}

ImageCheck CheckImage(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image) {
  ImageCheck check;
  const auto [inImage, inFlash] =
      std::mismatch(image.begin(), image.end(), flash.begin(), flash.end());
  check.holds = inImage == image.end();
  if (!check.holds) {
    check.firstDifference = static_cast<uint32_t>(inImage - image.begin());
    check.imageByte = *inImage;
    check.flashByte = inFlash != flash.end() ? *inFlash : 0;
  }
  return check;
}

void Chip::OnSilence(std::vector<uint8_t>& out) {
  if (loader_ && !options_.silent) {
    loader_->OnSilence(out);
  }
}

}  // namespace tarvok::sim
