// The loader protocol's bounds on the host, for the targets that speak it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "burn/LoaderLink.h"
#include "tests/fuzz/ScriptedLine.h"

namespace tarvok::fuzz {

// The longest stretch without a write is the end of the image stream: the last block's
// reply (patient), then both trailer bytes (very patient). Every other stretch is shorter:
// the erase wait and the two stream acknowledgements, a rejection's reply and
// re-synchronisation, the switch's second acknowledgement, the hello.
inline constexpr uint64_t kLoaderMaxMsBetweenWrites =
    ReadBoundMs(1, 10, 1000) + 2 * ReadBoundMs(1, 120, 1000);
// The write's own yield, then those reads.
inline constexpr uint64_t kLoaderMaxCallsBetweenWrites =
    1 + ReadCallsBound(1, 10) + 2 * ReadCallsBound(1, 120);

// Writes of hello, switch, flash parameters, image stream and finish, in the worst case.
inline uint64_t LoaderMaxWrites(uint32_t imageSize, uint32_t blockSize, uint8_t echoRepeats) {
  const uint64_t switchWrites = 1 + 10 + 1 + 11ull * echoRepeats;
  const uint64_t blockBytes = imageSize > 4 ? imageSize - 4 : 0;
  const uint64_t blocks = blockSize == 0 ? 0 : (blockBytes + blockSize - 1) / blockSize;
  // Every attempt at a block: the block and its sum, then 0xB6 and 0xB9 when rejected.
  const uint64_t streamWrites = 1 + blocks * kMaxBlockRejections * 4;
  return switchWrites + 3 + streamWrites + 1;
}

inline LineBounds LoaderLinkBounds(uint32_t imageSize, uint32_t blockSize, uint8_t echoRepeats) {
  LineBounds bounds;
  bounds.maxWrites = LoaderMaxWrites(imageSize, blockSize, echoRepeats);
  bounds.maxMsBetweenWrites = kLoaderMaxMsBetweenWrites;
  bounds.maxCallsBetweenWrites = kLoaderMaxCallsBetweenWrites;
  bounds.maxWriteBytes = std::max<uint64_t>(blockSize, 9);
  return bounds;
}

}  // namespace tarvok::fuzz
