#include "sim/BootStage.h"

#include <zlib.h>

#include "firmware/boot_stage_codes.h"
#include "sim/Loader.h"
#include "sim/WireBytes.h"

namespace tarvok::sim {
namespace {

constexpr uint32_t kLoadArgumentBytes = 9;  // the baud code, the length, the CRC-32

}  // namespace

BootStage::BootStage(uint32_t romRate) : romRate_(romRate), rate_(romRate), nextRate_(romRate) {
  stats_.started = true;
}

void BootStage::Start(std::vector<uint8_t>& out) {
  out.insert(out.end(), {BOOT_STAGE_HELLO, BOOT_STAGE_VERSION});
}

void BootStage::Receive(uint8_t byte, std::vector<uint8_t>& out) {
  SettleRate();
  switch (state_) {
    case State::kAwaitLoad:
      if (byte == BOOT_STAGE_CMD_LOAD) {
        arguments_.clear();
        state_ = State::kLoadArguments;
      }
      return;
    case State::kLoadArguments:
      arguments_.push_back(byte);
      if (arguments_.size() == kLoadArgumentBytes) {
        LoadArgumentsComplete(out);
      }
      return;
    case State::kProbing:
      if (byte == BOOT_STAGE_PROBE) {
        ++stats_.probes;
        out.push_back(BOOT_STAGE_READY);
        return;
      }
      if (stats_.probes == 0) {
        return;  // what came before the first probe (at the rate being left) is dropped
      }
      // Anything else after a probe is the loader's first byte.
      state_ = State::kLoaderBytes;
      [[fallthrough]];
    case State::kLoaderBytes:
      loader_.push_back(byte);
      ++stats_.loaderBytes;
      if (loader_.size() == length_) {
        LoaderComplete(out);
      }
      return;
    case State::kAwaitGo:
      if (byte == BOOT_STAGE_GO) {
        stats_.loaderStarted = true;
        state_ = State::kStopped;
      }
      return;
    case State::kStopped:
      return;
  }
}

void BootStage::LoadArgumentsComplete(std::vector<uint8_t>& out) {
  length_ = BigEndianWord(arguments_, 1);
  crc_ = BigEndianWord(arguments_, 5);
  if (length_ == 0 || length_ > BOOT_STAGE_MAX_LOADER_BYTES) {
    Refuse(out);
    return;
  }
  stats_.loadCommand = true;
  out.push_back(BOOT_STAGE_LOADER_OK);
  // Any code but a loader baud code keeps the boot ROM's rate.
  const uint32_t rate = LoaderBaudRate(arguments_[0]);
  nextRate_ = rate != 0 ? rate : romRate_;
  stats_.loaderRate = nextRate_;
  loader_.clear();
  loader_.reserve(length_);
  state_ = State::kProbing;
}

void BootStage::LoaderComplete(std::vector<uint8_t>& out) {
  const auto crc =
      static_cast<uint32_t>(crc32_z(crc32_z(0, nullptr, 0), loader_.data(), loader_.size()));
  if (crc != crc_) {
    Refuse(out);
    return;
  }
  stats_.loaderArrived = true;
  out.push_back(BOOT_STAGE_LOADER_OK);
  nextRate_ = romRate_;
  state_ = State::kAwaitGo;
}

void BootStage::Refuse(std::vector<uint8_t>& out) {
  stats_.refused = true;
  out.push_back(BOOT_STAGE_REFUSED);
  state_ = State::kStopped;
}

}  // namespace tarvok::sim
