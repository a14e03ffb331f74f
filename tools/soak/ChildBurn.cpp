#include "tools/soak/ChildBurn.h"

#include <errno.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tools/spawn/Spawn.h"

namespace tarvok::soak {
namespace {

using Clock = std::chrono::steady_clock;

// A child that outlives every bound of the burn it runs, its own watchdog included.
constexpr double kChildKillSeconds = 600;

std::string Encode(const BurnResult& r) {
  char head[192];
  std::snprintf(head, sizeof(head), "%d %u %.3f %u %u %u %d %u %u %d ", static_cast<int>(r.outcome),
                r.status, r.seconds, r.sentencesHeard, r.rejections, r.stepResult,
                static_cast<int>(r.readBack), r.imageCrc, r.flashCrc, r.flashWrong ? 1 : 0);
  return head + r.detail + "\n";
}

bool Decode(const std::string& text, BurnResult& r) {
  int outcome = 0;
  int readBack = 0;
  int flashWrong = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d %u %lf %u %u %u %d %u %u %d %n", &outcome, &r.status,
                  &r.seconds, &r.sentencesHeard, &r.rejections, &r.stepResult, &readBack,
                  &r.imageCrc, &r.flashCrc, &flashWrong, &used) < 10) {
    return false;
  }
  r.outcome = static_cast<Outcome>(outcome);
  r.readBack = static_cast<ReadBack>(readBack);
  r.flashWrong = flashWrong != 0;
  r.detail = text.substr(static_cast<std::size_t>(used));
  while (!r.detail.empty() && r.detail.back() == '\n') {
    r.detail.pop_back();
  }
  return true;
}

}  // namespace

ChildBurn Launch(const BurnPlan& plan) {
  ChildBurn child;
  child.plan = plan;
  child.started = Clock::now();
  const spawn::Spawned spawned = spawn::ForkRun([&plan](int out) {
    const std::string line = Encode(RunBurn(plan));
    const ssize_t ignored = write(out, line.data(), line.size());
    (void)ignored;
  });
  child.pid = spawned.pid;
  child.out = spawned.out;
  return child;
}

bool ReadOutput(ChildBurn& child) {
  char buffer[1024];
  const ssize_t n = read(child.out, buffer, sizeof(buffer));
  if (n > 0) {
    child.text.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  return n < 0 && errno == EINTR;
}

bool Overdue(const ChildBurn& child) {
  return std::chrono::duration<double>(Clock::now() - child.started).count() > kChildKillSeconds;
}

BurnResult Collect(ChildBurn& child, bool killed) {
  BurnResult result;
  int status = 0;
  if (child.pid > 0) {
    waitpid(child.pid, &status, 0);
  }
  if (child.out >= 0) {
    close(child.out);
  }
  if (child.pid < 0) {
    result.outcome = Outcome::kCrash;
    result.detail = "the child could not be started";
  } else if (killed) {
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

}  // namespace tarvok::soak
