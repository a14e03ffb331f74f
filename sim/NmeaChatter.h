// What a running application sends on its own: a receiver's fix as an NMEA sentence, every
// 200 ms unless told otherwise, at the line's pace. A chip sent back to its boot ROM mid-sentence
// never sends the rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok::sim {

class NmeaChatter {
 public:
  explicit NmeaChatter(int64_t startUs, int64_t periodUs = 200'000)
      : nextSentenceUs_(startUs), periodUs_(periodUs) {}

  // The bytes the line has carried at `rate` since the last piece left, at least one; a new
  // sentence once the last is out and the next is due, else nothing.
  std::vector<uint8_t> NextPiece(int64_t nowUs, uint32_t rate);
  // The application stopped: the rest of its sentence never leaves.
  void Stop() { left_.clear(); }
  // Mid-sentence, the next piece is due within kPieceUs.
  bool Sending() const { return !left_.empty(); }

  static constexpr int64_t kPieceUs = 2'000;

 private:
  int64_t nextSentenceUs_;
  int64_t periodUs_;
  uint32_t sentences_ = 0;
  std::string left_;  // the rest of the sentence being sent
  int64_t pieceSentUs_ = 0;
};

}  // namespace tarvok::sim
