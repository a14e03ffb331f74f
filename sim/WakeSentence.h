// The sentence a running application listens for: "$PVQT75*01" sends the chip back to its
// boot ROM. Recognises it in the bytes the host sends, wherever they break.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok::sim {

class WakeSentence {
 public:
  // True when `byte` completes the sentence.
  bool Hear(uint8_t byte);

 private:
  std::vector<uint8_t> window_;  // the last bytes heard, as many as the sentence has
};

}  // namespace tarvok::sim
