// tarvok-soak: thousands of burns into the simulated chip with random faults, each classified.
//
// Each burn runs in a child process of its own, planned from its seed alone: a crash shows as
// the child's death, a hang as the child's watchdog firing (or, failing that, the child being
// killed), and several burns run at once without sharing anything. Prints a table by outcome
// and by burn status, and the seed of every bad burn; `--burn-seed` runs one burn again.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/soak/SoakBurn.h"

namespace {

using tarvok::soak::BurnPlan;
using tarvok::soak::BurnResult;
using tarvok::soak::Outcome;
using Clock = std::chrono::steady_clock;

std::atomic<bool> stopStarting{false};

void OnSignal(int) {
  stopStarting = true;
}

constexpr uint32_t kHandshakeFailed = 0xB0006;

// A child that outlives every bound of the burn it runs, its own watchdog included.
constexpr double kChildKillSeconds = 600;

uint64_t BurnSeed(uint64_t runSeed, uint64_t index) {
  uint64_t z = runSeed + 0x9E3779B97F4A7C15ull * (index + 1);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::string Encode(const BurnResult& r) {
  char head[128];
  std::snprintf(head, sizeof(head), "%d %u %.3f %u %u ", static_cast<int>(r.outcome), r.status,
                r.seconds, r.sentencesHeard, r.rejections);
  return head + r.detail + "\n";
}

bool Decode(const std::string& text, BurnResult& r) {
  int outcome = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d %u %lf %u %u %n", &outcome, &r.status, &r.seconds,
                  &r.sentencesHeard, &r.rejections, &used) < 5) {
    return false;
  }
  r.outcome = static_cast<Outcome>(outcome);
  r.detail = text.substr(static_cast<std::size_t>(used));
  while (!r.detail.empty() && r.detail.back() == '\n') {
    r.detail.pop_back();
  }
  return true;
}

struct Running {
  pid_t pid = -1;
  int out = -1;
  BurnPlan plan;
  Clock::time_point started;
  std::string text;
};

Running Launch(const BurnPlan& plan) {
  Running child;
  child.plan = plan;
  child.started = Clock::now();
  int fds[2];
  if (pipe(fds) != 0) {
    return child;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string line = Encode(tarvok::soak::RunBurn(plan));
    const ssize_t ignored = write(fds[1], line.data(), line.size());
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  child.pid = pid;
  child.out = fds[0];
  return child;
}

// Waits for the child and reads its verdict; a child killed by a signal is a crash.
BurnResult Collect(Running& child, bool killed) {
  BurnResult result;
  int status = 0;
  waitpid(child.pid, &status, 0);
  close(child.out);
  if (killed) {
    result.outcome = Outcome::kHang;
    result.detail = "the child was killed after " + std::to_string(kChildKillSeconds) + " s";
  } else if (WIFSIGNALED(status)) {
    result.outcome = Outcome::kCrash;
    result.detail = std::string("died of ") + strsignal(WTERMSIG(status));
  } else if (!Decode(child.text, result)) {
    result.outcome = Outcome::kCrash;
    result.detail = "ended without a verdict (exit " + std::to_string(WEXITSTATUS(status)) + ")";
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - child.started).count();
  return result;
}

struct Tally {
  std::map<Outcome, uint64_t> outcomes;
  std::map<uint32_t, uint64_t> failureStatuses;
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

void Record(Tally& tally, const BurnPlan& plan, const BurnResult& r, bool verbose) {
  ++tally.burns;
  ++tally.outcomes[r.outcome];
  if (r.outcome == Outcome::kReportedFailure) {
    ++tally.failureStatuses[r.status];
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
  row.bad += tarvok::soak::IsBad(r.outcome) ? 1u : 0u;
  const std::string line =
      tarvok::soak::Describe(plan) + " -> " + tarvok::soak::OutcomeName(r.outcome) +
      (r.outcome == Outcome::kReportedFailure ? " (status " + std::to_string(r.status) + ")" : "") +
      (r.detail.empty() ? "" : ": " + r.detail);
  tally.slowest.emplace(r.seconds, line);
  if (tally.slowest.size() > 5) {
    tally.slowest.erase(tally.slowest.begin());
  }
  if (tarvok::soak::IsBad(r.outcome)) {
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
        Outcome::kWrongFlashDefect, Outcome::kFinishLost, Outcome::kFinishLostToFaults,
        Outcome::kCrash, Outcome::kHang, Outcome::kSetupFailed}) {
    const auto found = t.outcomes.find(o);
    std::printf("%-40s %8llu\n", tarvok::soak::OutcomeName(o),
                static_cast<unsigned long long>(found == t.outcomes.end() ? 0 : found->second));
  }
  std::printf("\nreported failures by burn status:");
  for (const auto& [status, count] : t.failureStatuses) {
    std::printf("  %#x: %llu", status, static_cast<unsigned long long>(count));
  }
  std::printf("\n\nfull runs (boot ROM woken) by adapter latency:\n");
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

}  // namespace

int main(int argc, char** argv) {
  uint64_t burns = 1000;
  uint64_t runSeed = std::random_device{}();
  unsigned jobs = 2;
  double seconds = 0;
  std::string profileName = "full";
  uint64_t burnSeed = 0;
  bool verbose = false;
  double fullRunShare = tarvok::soak::kDefaultFullRunShare;

  CLI::App app{"Soak: many burns into the simulated chip with random faults, each classified"};
  app.add_option("--burns", burns, "how many burns");
  app.add_option("--seed", runSeed,
                 "seed of the whole run (printed; the same seed, the same plans)");
  app.add_option("-j,--jobs", jobs, "burns at once")->check(CLI::Range(1u, 64u));
  app.add_option("--seconds", seconds, "start no burn after this many seconds (0: no limit)");
  app.add_option("--profile", profileName, "full, or quick (faults towards the chip only, for CI)")
      ->check(CLI::IsMember({"full", "quick"}));
  app.add_option("--burn-seed", burnSeed,
                 "run only the burn with this seed, and say what happened");
  app.add_flag("-v,--verbose", verbose, "a line for every burn");
  app.add_option("--full-runs", fullRunShare,
                 "share of the burns that wake the boot ROM (half of it with --profile quick)")
      ->check(CLI::Range(0.0, 1.0));
  CLI11_PARSE(app, argc, argv);
  signal(SIGPIPE, SIG_IGN);
  // Ctrl-C starts no more burns; those under way end and the table is printed.
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  const auto profile =
      profileName == "quick" ? tarvok::soak::Profile::kQuick : tarvok::soak::Profile::kFull;

  std::vector<BurnPlan> plans;
  if (burnSeed != 0) {
    plans.push_back(tarvok::soak::PlanBurn(burnSeed, profile, fullRunShare));
    std::printf("%s\n", tarvok::soak::Describe(plans.back()).c_str());
    std::fflush(stdout);
    verbose = true;
    jobs = 1;
  } else {
    std::printf("soak seed %llu, %llu burns, %u at once, profile %s\n",
                static_cast<unsigned long long>(runSeed), static_cast<unsigned long long>(burns),
                jobs, profileName.c_str());
    std::fflush(stdout);
    for (uint64_t k = 0; k < burns; ++k) {
      plans.push_back(tarvok::soak::PlanBurn(BurnSeed(runSeed, k), profile, fullRunShare));
    }
  }

  Tally tally;
  const auto start = Clock::now();
  std::vector<Running> running;
  std::size_t next = 0;
  while (next < plans.size() || !running.empty()) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const bool mayStart = (seconds <= 0 || elapsed < seconds) && !stopStarting;
    while (mayStart && next < plans.size() && running.size() < jobs) {
      running.push_back(Launch(plans[next++]));
    }
    if (!mayStart) {
      next = plans.size();
    }
    if (running.empty()) {
      break;
    }
    std::vector<pollfd> fds;
    for (const Running& child : running) {
      fds.push_back({child.out, POLLIN, 0});
    }
    poll(fds.data(), fds.size(), 1000);
    for (std::size_t k = running.size(); k-- > 0;) {
      Running& child = running[k];
      bool ended = false;
      if ((fds[k].revents & (POLLIN | POLLHUP)) != 0) {
        char buffer[1024];
        const ssize_t n = read(child.out, buffer, sizeof(buffer));
        if (n > 0) {
          child.text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          ended = true;
        }
      }
      const bool overdue =
          std::chrono::duration<double>(Clock::now() - child.started).count() > kChildKillSeconds;
      if (overdue) {
        kill(child.pid, SIGKILL);
      }
      if (ended || overdue) {
        Record(tally, child.plan, Collect(child, overdue && !ended), verbose);
        if (!verbose && tally.burns % 250 == 0) {
          std::printf("%llu burns, %zu bad, %.0f s\n", static_cast<unsigned long long>(tally.burns),
                      tally.bad.size(),
                      std::chrono::duration<double>(Clock::now() - start).count());
          std::fflush(stdout);
        }
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      }
    }
  }
  PrintTable(tally, runSeed, std::chrono::duration<double>(Clock::now() - start).count());
  return tally.bad.empty() ? 0 : 1;
}
