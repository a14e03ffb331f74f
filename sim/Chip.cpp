#include "sim/Chip.h"

#include <algorithm>

namespace tarvok::sim {
namespace {

// Builds without Unicorn (the Windows test build) have the C++ loader model only.
constexpr bool kHasEmulatedCpu = TARVOK_EMULATED_CPU != 0;

constexpr uint32_t kLoaderAddress = 0xC00;

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
  rom_.answerHandshake = !options.noHandshake;
  rom_.corruptNextDataEcho = options.wrongEcho;
  rom_.wrongChecksum = options.wrongChecksum;
  rom_.knowsExecute = !options.noExecute;
}

void Chip::PowerOn(std::vector<uint8_t>& out) {
  if (mode_ == Mode::kLoader && !loader_ && !options_.silent) {
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

uint32_t Chip::Rate() const {
  return loader_ ? loader_->Rate() : options_.romRate;
}

void Chip::SettleRate() {
  if (loader_) {
    loader_->SettleRate();
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
        if (rom_.StartAddress() == kLoaderAddress || options_.cpu) {
          StartLoader(out);
        } else {
          options_.silent = true;  // jumped into nowhere
        }
      }
      return;
    case Mode::kLoader:
      if (!loader_) {
        return;
      }
      loader_->Receive(byte, out);
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
  const std::vector<uint8_t>& cells = flash_.Cells();
  return cells.size() >= image.size() && std::equal(image.begin(), image.end(), cells.begin());
}

void Chip::OnSilence(std::vector<uint8_t>& out) {
  if (loader_ && !options_.silent) {
    loader_->OnSilence(out);
  }
}

}  // namespace tarvok::sim
