#include "tools/soak/Tally.h"

#include <cstdio>

namespace tarvok::soak {
namespace {

constexpr uint32_t kHandshakeFailed = 0xB0006;

}  // namespace

void Record(Tally& tally, const BurnPlan& plan, const BurnResult& r, bool verbose) {
  ++tally.burns;
  ++tally.outcomes[r.outcome];
  if (r.outcome == Outcome::kReportedFailure) {
    ++tally.failureStatuses[r.status];
  }
  if (r.flashWrong) {
    ++tally.wrongFlashReports[{r.status, r.stepResult}];
  }
  if (plan.fullRun && r.outcome != Outcome::kHang && r.outcome != Outcome::kCrash) {
    Tally::FullRuns& runs = tally.fullRuns[{plan.chip.wire.latencyMs, plan.scenario == "clean"}];
    ++runs.runs;
    runs.succeeded += r.status == 0 ? 1u : 0u;
    runs.oneCycle += r.status == 0 && r.sentencesHeard == 1 ? 1u : 0u;
    runs.handshakeFailed += r.status == kHandshakeFailed ? 1u : 0u;
  }
  Tally::Row& row = tally.scenarios[plan.scenario];
  ++row.burns;
  row.seconds += r.seconds;
  row.succeeded += r.outcome == Outcome::kSuccess ? 1u : 0u;
  row.failed += r.outcome == Outcome::kReportedFailure ? 1u : 0u;
  row.undetectable += r.outcome == Outcome::kWrongFlashExplained ? 1u : 0u;
  row.bad += IsBad(r.outcome) ? 1u : 0u;
  const std::string line =
      Describe(plan) + " -> " + OutcomeName(r.outcome) +
      (r.outcome == Outcome::kReportedFailure ? " (status " + std::to_string(r.status) + ")" : "") +
      (r.detail.empty() ? "" : ": " + r.detail);
  tally.slowest.emplace(r.seconds, line);
  if (tally.slowest.size() > 5) {
    tally.slowest.erase(tally.slowest.begin());
  }
  if (IsBad(r.outcome)) {
    tally.bad.push_back(line);
    std::fprintf(stderr, "BAD %s\n", line.c_str());
  } else if (r.outcome == Outcome::kWrongFlashExplained) {
    tally.explained.push_back(line);
  }
  if (verbose) {
    std::printf("%6.2f s  %s\n", r.seconds, line.c_str());
    std::fflush(stdout);
  }
}

void PrintTable(const Tally& t, uint64_t runSeed, double seconds) {
  std::printf("\nsoak seed %llu: %llu burns in %.0f s\n\n",
              static_cast<unsigned long long>(runSeed), static_cast<unsigned long long>(t.burns),
              seconds);
  std::printf("%-40s %8s\n", "outcome", "burns");
  for (const Outcome o :
       {Outcome::kSuccess, Outcome::kReportedFailure, Outcome::kWrongFlashExplained,
        Outcome::kWrongFlashDefect, Outcome::kUncheckedSuccess, Outcome::kFinishLost,
        Outcome::kFinishLostToFaults, Outcome::kCrash, Outcome::kHang, Outcome::kSetupFailed}) {
    const auto found = t.outcomes.find(o);
    std::printf("%-40s %8llu\n", OutcomeName(o),
                static_cast<unsigned long long>(found == t.outcomes.end() ? 0 : found->second));
  }
  std::printf("\nreported failures by burn status:");
  for (const auto& [status, count] : t.failureStatuses) {
    std::printf("  %#x: %llu", status, static_cast<unsigned long long>(count));
  }
  std::printf("\n\nwrong flashes by what the burn reported:\n");
  std::printf("%-12s %-14s %8s\n", "burn status", "step result", "burns");
  for (const auto& [report, count] : t.wrongFlashReports) {
    std::printf("0x%-10x 0x%-12x %8llu%s\n", report.first, report.second,
                static_cast<unsigned long long>(count),
                report.first == 0 ? "  reported as success" : "");
  }
  std::printf("\nfull runs (boot ROM woken) by adapter latency:\n");
  std::printf("%-18s %6s %9s %26s %18s\n", "latency, line", "runs", "success",
              "of them woken in 1 cycle", "handshake failed");
  for (const auto& [key, runs] : t.fullRuns) {
    const std::string name =
        std::to_string(key.first) + " ms, " + (key.second ? "clean" : "faults");
    std::printf("%-18s %6llu %9llu %26llu %18llu\n", name.c_str(),
                static_cast<unsigned long long>(runs.runs),
                static_cast<unsigned long long>(runs.succeeded),
                static_cast<unsigned long long>(runs.oneCycle),
                static_cast<unsigned long long>(runs.handshakeFailed));
  }
  std::printf("\n%-22s %7s %9s %8s %13s %5s %8s\n", "scenario", "burns", "success", "failed",
              "undetectable", "bad", "mean s");
  for (const auto& [name, row] : t.scenarios) {
    std::printf(
        "%-22s %7llu %9llu %8llu %13llu %5llu %8.2f\n", name.c_str(),
        static_cast<unsigned long long>(row.burns), static_cast<unsigned long long>(row.succeeded),
        static_cast<unsigned long long>(row.failed),
        static_cast<unsigned long long>(row.undetectable), static_cast<unsigned long long>(row.bad),
        row.seconds / static_cast<double>(row.burns));
  }
  std::printf("\nslowest burns:\n");
  for (auto it = t.slowest.rbegin(); it != t.slowest.rend(); ++it) {
    std::printf("%7.1f s  %s\n", it->first, it->second.c_str());
  }
  for (const std::string& line : t.explained) {
    std::printf("undetectable: %s\n", line.c_str());
  }
  for (const std::string& line : t.bad) {
    std::printf("BAD: %s\n", line.c_str());
  }
}

}  // namespace tarvok::soak
