#include "sim/WakeSentence.h"

#include <algorithm>
#include <array>

namespace tarvok::sim {
namespace {

constexpr std::array<uint8_t, 12> kRebootSentence = {'$', 'P', 'V', 'Q', 'T',  '7',
                                                     '5', '*', '0', '1', 0x0D, 0x0A};

}  // namespace

bool WakeSentence::Hear(uint8_t byte) {
  window_.push_back(byte);
  if (window_.size() > kRebootSentence.size()) {
    window_.erase(window_.begin());
  }
  return std::equal(window_.begin(), window_.end(), kRebootSentence.begin(), kRebootSentence.end());
}

}  // namespace tarvok::sim
