// The station's records against a full disk and a station killed at any moment: a unit
// number is never handed out twice, every record in the log is a whole line, and the log's
// sequence numbers go on across the kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "station/records/StationLog.h"
#include "station/records/UnitNumberStore.h"
#include "tests/support/FileText.h"
#include "tests/support/ScratchFolder.h"
#include "tools/spawn/Spawn.h"

namespace tarvok {
namespace {

using testing::FileText;

TEST(StationCrashTest, AnAppendToAFullDiskFailsWithAMessage) {
  std::string problem;
  const auto log = StationLog::Open("/dev/full", problem);
  ASSERT_TRUE(log) << problem;
  EXPECT_FALSE(log->Append("{\"unit\":1}\n", problem));
  EXPECT_NE(problem.find("/dev/full"), std::string::npos) << problem;
  EXPECT_NE(problem.find("No space left on device"), std::string::npos) << problem;
}

// The station's work in a child: a start line, then numbers taken and logged until killed, each
// record numbered on from the last one the log holds.
[[noreturn]] void TakeAndLogUntilKilled(const std::string& statePath, const std::string& logPath,
                                        const UnitNumberPlan& plan, int run) {
  std::string problem;
  const auto store = UnitNumberStore::Open(statePath, plan, problem);
  const auto log = StationLog::Open(logPath, problem);
  if (!store || !log || !log->Append("{\"start\":" + std::to_string(run) + "}\n", problem)) {
    _exit(2);
  }
  UnitRecord record;
  record.port = "ttyUSB" + std::to_string(run);
  record.message = std::string(200, 'm');
  record.hasUnit = true;
  for (uint64_t sequence = log->LastSequence() + 1; sequence < 1000000; ++sequence) {
    record.sequence = sequence;
    if (!store->Take(record.unit, problem) || !log->Append(UnitRecordLine(record), problem)) {
      _exit(3);
    }
  }
  _exit(4);
}

size_t LineCount(const std::string& path) {
  const std::string text = FileText(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(StationCrashTest, AKilledStationNeverHandsOutANumberTwice) {
  const ScratchFolder folder;
  const std::string statePath = folder.PathOf("station.jsonl.unit-state");
  const std::string logPath = folder.PathOf("station.jsonl");
  UnitNumberPlan plan;
  plan.first = 5000;
  plan.encoding = UnitEncoding::kBigEndian32;
  plan.width = 4;
  std::mt19937 random(20261208);
  constexpr int kKills = 6;
  for (int run = 0; run < kKills; ++run) {
    const size_t linesBefore = LineCount(logPath);
    const spawn::Spawned spawned =
        spawn::ForkRun([&](int) { TakeAndLogUntilKilled(statePath, logPath, plan, run); });
    ASSERT_GE(spawned.pid, 0);
    close(spawned.out);
    const pid_t child = spawned.pid;
    // Kill it a random moment after it has logged its start and one unit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (LineCount(logPath) < linesBefore + 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child ended by itself with " << WEXITSTATUS(status) << " in run " << run;
  }

  std::string problem;
  const auto store = UnitNumberStore::Open(statePath, plan, problem);
  ASSERT_TRUE(store) << problem;
  std::vector<std::string> lines;
  std::istringstream in(FileText(logPath));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  std::set<uint64_t> units;
  size_t records = 0;
  uint64_t lastSequence = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const nlohmann::json line = nlohmann::json::parse(lines[i], nullptr, false);
    if (line.is_discarded()) {
      // Only a line cut short by a kill: the next station's start follows it.
      ASSERT_LT(i + 1, lines.size()) << lines[i];
      EXPECT_TRUE(nlohmann::json::parse(lines[i + 1], nullptr, false).contains("start"))
          << "a torn line inside a run: " << lines[i];
      continue;
    }
    if (line.contains("start")) {
      continue;
    }
    ++records;
    const std::optional<UnitRecord> record = ParseUnitRecordLine(lines[i]);
    ASSERT_TRUE(record) << lines[i];
    // Numbered on across the kills: a number a kill kept from the log is used by the next run.
    EXPECT_EQ(record->sequence, lastSequence + 1) << lines[i];
    lastSequence = record->sequence;
    const uint64_t unit = record->unit;
    EXPECT_TRUE(units.insert(unit).second) << "unit " << unit << " handed out twice";
    EXPECT_LT(unit, store->Next());
  }
  ASSERT_GE(records, static_cast<size_t>(kKills));
  // A kill loses at most the one number it took but did not log.
  EXPECT_LE(store->Next() - plan.first - units.size(), static_cast<uint64_t>(kKills));
  EXPECT_GE(*units.begin(), plan.first);
}

}  // namespace
}  // namespace tarvok
