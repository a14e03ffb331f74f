// tarvok-soak: thousands of burns into the simulated chip with random faults, each classified.
//
// Each burn runs in a child process of its own, planned from its seed alone: a crash shows as
// the child's death, a hang as the child's watchdog firing (or, failing that, the child being
// killed), and several burns run at once without sharing anything. Prints a table by outcome
// and by burn status, and the seed of every bad burn; `--burn-seed` runs one burn again.
#include <poll.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/soak/ChildBurn.h"
#include "tools/soak/SoakBurn.h"
#include "tools/soak/Tally.h"

namespace {

using tarvok::soak::BurnPlan;
using tarvok::soak::ChildBurn;
using tarvok::soak::Tally;
using Clock = std::chrono::steady_clock;

std::atomic<bool> stopStarting{false};

void OnSignal(int) {
  stopStarting = true;
}

struct SoakOptions {
  uint64_t burns = 1000;
  uint64_t runSeed = std::random_device{}();
  unsigned jobs = 2;
  double seconds = 0;
  std::string profileName = "full";
  uint64_t burnSeed = 0;
  bool verbose = false;
  double fullRunShare = tarvok::soak::kDefaultFullRunShare;
};

// The exit status when the program is done already (--help, bad usage); nothing when the
// soak is to run.
std::optional<int> ParseOptions(int argc, char** argv, SoakOptions& o) {
  CLI::App app{"Soak: many burns into the simulated chip with random faults, each classified"};
  app.add_option("--burns", o.burns, "how many burns");
  app.add_option("--seed", o.runSeed,
                 "seed of the whole run (printed; the same seed, the same plans)");
  app.add_option("-j,--jobs", o.jobs, "burns at once")->check(CLI::Range(1u, 64u));
  app.add_option("--seconds", o.seconds, "start no burn after this many seconds (0: no limit)");
  app.add_option("--profile", o.profileName,
                 "full, or quick (faults towards the chip only, for CI)")
      ->check(CLI::IsMember({"full", "quick"}));
  app.add_option("--burn-seed", o.burnSeed,
                 "run only the burn with this seed, and say what happened");
  app.add_flag("-v,--verbose", o.verbose, "a line for every burn");
  app.add_option("--full-runs", o.fullRunShare,
                 "share of the burns that wake the boot ROM (half of it with --profile quick)")
      ->check(CLI::Range(0.0, 1.0));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  return std::nullopt;
}

uint64_t BurnSeed(uint64_t runSeed, uint64_t index) {
  uint64_t z = runSeed + 0x9E3779B97F4A7C15ull * (index + 1);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Plans every burn of the run from its seed, or with --burn-seed the one burn, which then
// runs alone and says what happened.
std::vector<BurnPlan> PlanBurns(SoakOptions& o) {
  const auto profile =
      o.profileName == "quick" ? tarvok::soak::Profile::kQuick : tarvok::soak::Profile::kFull;
  std::vector<BurnPlan> plans;
  if (o.burnSeed != 0) {
    plans.push_back(tarvok::soak::PlanBurn(o.burnSeed, profile, o.fullRunShare));
    std::printf("%s\n", tarvok::soak::Describe(plans.back()).c_str());
    std::fflush(stdout);
    o.verbose = true;
    o.jobs = 1;
    return plans;
  }
  std::printf("soak seed %llu, %llu burns, %u at once, profile %s\n",
              static_cast<unsigned long long>(o.runSeed), static_cast<unsigned long long>(o.burns),
              o.jobs, o.profileName.c_str());
  std::fflush(stdout);
  for (uint64_t k = 0; k < o.burns; ++k) {
    plans.push_back(tarvok::soak::PlanBurn(BurnSeed(o.runSeed, k), profile, o.fullRunShare));
  }
  return plans;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits up to a second for the children to write, and records those that ended or overran
// their bound (killed).
void CollectEnded(std::vector<ChildBurn>& running, Tally& tally, bool verbose,
                  Clock::time_point start) {
  std::vector<pollfd> fds;
  for (const ChildBurn& child : running) {
    fds.push_back({child.out, POLLIN, 0});
  }
  poll(fds.data(), fds.size(), 1000);
  for (std::size_t k = running.size(); k-- > 0;) {
    ChildBurn& child = running[k];
    // A child that never started has ended: never a kill(-1, ...).
    const bool ended =
        child.pid < 0 || ((fds[k].revents & (POLLIN | POLLHUP)) != 0 && !ReadOutput(child));
    const bool overdue = !ended && Overdue(child);
    if (overdue) {
      kill(child.pid, SIGKILL);
    }
    if (!ended && !overdue) {
      continue;
    }
    Record(tally, child.plan, Collect(child, overdue && !ended), verbose);
    if (!verbose && tally.burns % 250 == 0) {
      std::printf("%llu burns, %zu bad, %.0f s\n", static_cast<unsigned long long>(tally.burns),
                  tally.bad.size(), SecondsSince(start));
      std::fflush(stdout);
    }
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
  }
}

// Runs the plans, `jobs` at once, until all have ended; after --seconds or a signal it starts
// no more and waits for those under way.
void RunBurns(const std::vector<BurnPlan>& plans, const SoakOptions& o, Tally& tally,
              Clock::time_point start) {
  std::vector<ChildBurn> running;
  std::size_t next = 0;
  while (next < plans.size() || !running.empty()) {
    const bool mayStart = (o.seconds <= 0 || SecondsSince(start) < o.seconds) && !stopStarting;
    while (mayStart && next < plans.size() && running.size() < o.jobs) {
      running.push_back(tarvok::soak::Launch(plans[next++]));
    }
    if (!mayStart) {
      next = plans.size();
    }
    if (running.empty()) {
      break;
    }
    CollectEnded(running, tally, o.verbose, start);
  }
}

}  // namespace

int main(int argc, char** argv) {
  SoakOptions options;
  if (const std::optional<int> done = ParseOptions(argc, argv, options)) {
    return *done;
  }
  signal(SIGPIPE, SIG_IGN);
  // Ctrl-C starts no more burns; those under way end and the table is printed.
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  const std::vector<BurnPlan> plans = PlanBurns(options);
  Tally tally;
  const auto start = Clock::now();
  RunBurns(plans, options, tally, start);
  tarvok::soak::PrintTable(tally, options.runSeed, SecondsSince(start));
  return tally.bad.empty() ? 0 : 1;
}
