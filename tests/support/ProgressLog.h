// Records the stage callbacks a burn makes, for comparison in tests.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok::testing {

struct ProgressReport {
  uint8_t percent;
  uint32_t done;
  uint32_t total;
  bool operator==(const ProgressReport&) const = default;
};

struct ProgressLog {
  uint32_t starts = 0;
  std::vector<ProgressReport> reports;

  static int32_t OnStart(void* user) {
    ++static_cast<ProgressLog*>(user)->starts;
    return 0;
  }
  static int32_t OnProgress(uint8_t percent, uint32_t done, uint32_t total, void* user) {
    static_cast<ProgressLog*>(user)->reports.push_back({percent, done, total});
    return 0;
  }
};

}  // namespace tarvok::testing
