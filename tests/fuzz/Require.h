// Checks of the fuzz targets: a broken property aborts, which the fuzzer reports as a crash
// with the input that caused it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tarvok::fuzz {

inline void Require(bool holds, const char* property) {
  if (!holds) {
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
  }
}

// What a stage reports through its progress callback: percent never above 100 and never
// going back, bytes done never beyond the total.
struct ProgressWatch {
  uint32_t reports = 0;
  uint8_t lastPercent = 0;

  static int32_t Report(uint8_t percent, uint32_t done, uint32_t total, void* user) {
    auto& watch = *static_cast<ProgressWatch*>(user);
    Require(percent <= 100, "progress percent at most 100");
    Require(percent >= watch.lastPercent, "progress never goes back");
    // An odd-length loader counts its last byte as two.
    Require(done <= total + 1, "progress bytes within the total");
    watch.lastPercent = percent;
    ++watch.reports;
    return 0;
  }
};

}  // namespace tarvok::fuzz
