// What the soak counts as its burns end, and the table it prints at the end.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/soak/SoakBurn.h"

namespace tarvok::soak {

struct Tally {
  std::map<Outcome, uint64_t> outcomes;
  std::map<uint32_t, uint64_t> failureStatuses;
  // What each burn that left a wrong flash was reported as: by burn status and step result.
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> wrongFlashReports;
  std::vector<std::string> bad;
  std::vector<std::string> explained;
  struct Row {
    uint64_t burns = 0;
    uint64_t succeeded = 0;
    uint64_t failed = 0;
    uint64_t undetectable = 0;
    uint64_t bad = 0;
    double seconds = 0;
  };
  std::map<std::string, Row> scenarios;
  std::multimap<double, std::string> slowest;  // the five longest burns
  struct FullRuns {
    uint64_t runs = 0;
    uint64_t succeeded = 0;
    uint64_t oneCycle = 0;  // of the successes: the boot ROM woke in the first cycle
    uint64_t handshakeFailed = 0;
  };
  // By adapter latency and whether the line was clean: a faulted line can defeat a handshake.
  std::map<std::pair<uint32_t, bool>, FullRuns> fullRuns;
  uint64_t burns = 0;
};

// Counts one burn; a bad one is also named on standard error at once, and with `verbose`
// every burn gets a line on standard output.
void Record(Tally& tally, const BurnPlan& plan, const BurnResult& r, bool verbose);

void PrintTable(const Tally& t, uint64_t runSeed, double seconds);

}  // namespace tarvok::soak
