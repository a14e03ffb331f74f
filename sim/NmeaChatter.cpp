#include "sim/NmeaChatter.h"

#include <algorithm>
#include <cstdio>

namespace tarvok::sim {
namespace {

// A receiver's fix, as a running chip reports it once a second.
std::string NmeaSentence(uint32_t counter) {
  char body[96];
  std::snprintf(body, sizeof(body), "GPGGA,%06u.00,2446.1234,N,12100.5678,E,1,08,0.9,12.3,M,,M,,",
                counter % 240000);
  uint8_t sum = 0;
  for (const char* c = body; *c != '\0'; ++c) {
    sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(*c));
  }
  char sentence[128];
  std::snprintf(sentence, sizeof(sentence), "$%s*%02X\r\n", body, sum);
  return sentence;
}

}  // namespace

std::vector<uint8_t> NmeaChatter::NextPiece(int64_t nowUs, uint32_t rate) {
  if (left_.empty()) {
    if (nowUs < nextSentenceUs_) {
      return {};
    }
    left_ = NmeaSentence(sentences_++);
    pieceSentUs_ = nowUs;
    nextSentenceUs_ = nowUs + periodUs_;
  }
  // Ten bits a byte: what the line has carried since the last piece went.
  const auto due = static_cast<std::size_t>((nowUs - pieceSentUs_) * rate / 10'000'000);
  const std::size_t count = std::min(left_.size(), std::max<std::size_t>(due, 1));
  std::vector<uint8_t> piece(left_.begin(), left_.begin() + static_cast<std::ptrdiff_t>(count));
  left_.erase(0, count);
  pieceSentUs_ = nowUs;
  return piece;
}

}  // namespace tarvok::sim
