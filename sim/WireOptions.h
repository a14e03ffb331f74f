// How the simulated chip's wire behaves: throttled to the baud rate in each direction,
// delivered to the host in bursts as a USB adapter's latency timer does, and with faults at
// random in either direction (flipped, lost, doubled bytes, stalls, a hang-up), seeded so that
// a run can be repeated.
#pragma once

#include <cstdint>

namespace tarvok::sim {

// Faults of one direction of the line, each a probability per byte.
struct LineFaults {
  double corrupt = 0;    // the byte arrives with one bit flipped
  double lose = 0;       // the byte never arrives
  double duplicate = 0;  // the byte arrives twice
  double stall = 0;      // the line stalls before the byte...
  uint32_t stallMs = 0;  // ...for this long
  double hangUp = 0;     // the line goes dead at the byte
};

struct WireOptions {
  bool throttle = false;  // each direction at the current rate, 10 bits a byte
  bool chatter = true;    // a running chip sends NMEA sentences until it is sent back to ROM
  // Bytes towards the host leave in bursts when this timer fires, as a USB serial adapter's
  // latency timer sends them; 0 sends each at once.
  uint32_t latencyMs = 0;
  LineFaults toChip;
  LineFaults toHost;
  uint32_t seed = 1;               // of every random fault
  uint32_t hangUpAfterBlocks = 0;  // the line goes dead after this many accepted blocks
  uint32_t silenceMs = 50;         // a block that stops arriving is rejected after this
  bool trace = false;              // print every byte crossing the wire on stderr
};

}  // namespace tarvok::sim
