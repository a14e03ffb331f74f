#include "tools/station-soak/Verdict.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace tarvok::stationsoak {
namespace {

std::string BoardName(const BoardStory& story) {
  return "fixture " + std::to_string(story.fixture + 1) + " board " + std::to_string(story.number);
}

uint64_t Count(const std::vector<const LogLine*>& lines, UnitResult result) {
  uint64_t count = 0;
  for (const LogLine* line : lines) {
    count += line->result == result ? 1u : 0u;
  }
  return count;
}

// The image as a board should hold it: the image with `unit` in its field.
bool FlashHolds(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& image,
                uint64_t offset, uint64_t unit) {
  std::vector<uint8_t> expected = image;
  for (uint64_t k = 0; k < 4 && offset + k < expected.size(); ++k) {
    expected[offset + k] = static_cast<uint8_t>(unit >> (8 * k));
  }
  return flash.size() >= expected.size() &&
         std::equal(expected.begin(), expected.end(), flash.begin());
}

// A board that no kill found in place goes as its faults say, in one attempt. A board that
// failed without a planned fault (the boot ROM's echo timing under a loaded machine) is
// counted and told, as long as the log says it failed too. So is a board to be pulled at half
// its image whose burn failed before it got that far: its fixture says failed, and its record
// that the port was still there. A pulled board's record says its port went away.
void CheckUntouched(const BoardStory& story, Verdict& verdict) {
  const bool planned = story.failFault || story.pullFault;
  const bool failed = story.files.result == "failed" || story.files.result == "pulled";
  const LogLine* only = story.lines.size() == 1 ? story.lines.front() : nullptr;
  const bool failedBeforeItsPull = story.pullFault && story.files.result == "failed" &&
                                   only != nullptr && only->result == UnitResult::kFail &&
                                   !only->portWentAway;
  if ((!planned && failed) || failedBeforeItsPull) {
    ++verdict.figures.failedUnplanned;
    verdict.notes.push_back(BoardName(story) + ": failed without a planned fault: " +
                            (story.lines.empty() ? std::string("no log line")
                                                 : story.lines.front()->message.substr(0, 100)));
  }
  const std::string expected = story.failFault || failedBeforeItsPull ? "failed"
                               : story.pullFault                      ? "pulled"
                               : failed                               ? story.files.result
                                                                      : "burned";
  const UnitResult expectedLine = planned || failed ? UnitResult::kFail : UnitResult::kPass;
  if (story.files.result != expected) {
    verdict.problems.push_back(BoardName(story) + ": the fixture says " + story.files.result +
                               ", expected " + expected);
  }
  if (only == nullptr || only->result != expectedLine) {
    verdict.problems.push_back(BoardName(story) + ": " + std::to_string(story.lines.size()) +
                               " log lines, expected one " + UnitResultWord(expectedLine));
  } else if (story.files.result == "pulled" && !only->portWentAway) {
    verdict.problems.push_back(BoardName(story) +
                               ": pulled, but its log line does not say the port went away");
  }
}

// A board the soak took out was one a restarted station waited for while it waited for its
// burn: a kill had cut that burn before a byte reached it. It leaves pulled, logged once as
// interrupted.
void CheckTakenOut(const BoardStory& story, Verdict& verdict) {
  ++verdict.figures.takenOut;
  if (story.files.result != "pulled") {
    verdict.problems.push_back(BoardName(story) + ": taken out, but the fixture says " +
                               story.files.result);
  }
  if (story.lines.size() != 1 || story.lines.front()->result != UnitResult::kInterrupted) {
    verdict.problems.push_back(BoardName(story) + ": taken out, with " +
                               std::to_string(story.lines.size()) +
                               " log lines, expected one interrupted");
  }
}

void CountKill(const BoardStory& story, const VerdictInputs& inputs, Verdict& verdict) {
  SoakFigures& f = verdict.figures;
  if (story.killCase == KillCase::kAfterItsLog) {
    ++f.killsAfterLog;
    if (story.attemptsAfterKill > 0) {
      ++f.reburnsOfLoggedBoards;
    }
  } else {
    ++f.killsAmidBurn;
    if (story.attemptsAfterKill > 0) {
      ++f.reburnsOfCutBoards;
      f.reburnsOfCutBoardsPassed += story.passesAfterKill > 0 ? 1u : 0u;
    }
  }
  if (story.attemptsAfterKill > 0) {
    const std::string what =
        BoardName(story) + ": attempted again by the restarted station without being seen to " +
        "leave (" +
        (story.killCase == KillCase::kAfterItsLog ? "its attempt was logged before the kill"
                                                  : "the kill came before its attempt was logged") +
        "; " + std::to_string(story.passesAfterKill) + " of " +
        std::to_string(story.attemptsAfterKill) + " passed)";
    (inputs.strictRestart ? verdict.problems : verdict.notes).push_back(what);
  }
}

// A burned board's pass is logged, and its flash holds the image with the logged unit number.
void CheckPassLogged(const BoardStory& story, const VerdictInputs& inputs, Verdict& verdict) {
  SoakFigures& f = verdict.figures;
  const BoardFiles& files = story.files;
  const LogLine* passed = nullptr;
  for (const LogLine* line : story.lines) {
    passed = line->result == UnitResult::kPass ? line : passed;
  }
  if (passed == nullptr) {
    if (files.result == "burned") {
      ++f.burnedUnlogged;
      if (story.killCase == KillCase::kNone) {
        verdict.problems.push_back(BoardName(story) + ": burned, but no pass in the log");
      }
    }
    return;
  }
  if (files.result != "burned") {
    verdict.problems.push_back(BoardName(story) + ": logged as passed, but the fixture says " +
                               files.result);
  }
  if (!passed->unit ||
      !FlashHolds(files.flash, *inputs.image, inputs.units.offset, *passed->unit)) {
    ++f.flashMismatches;
    verdict.problems.push_back(BoardName(story) +
                               ": its flash is not the image with the logged unit number");
  }
}

void JudgeBoard(const BoardStory& story, const VerdictInputs& inputs, Verdict& verdict) {
  SoakFigures& f = verdict.figures;
  ++f.boards;
  if (!story.files.found) {
    verdict.problems.push_back(BoardName(story) + ": the fixture never reported it");
    return;
  }
  ++f.boardsReported;
  const BoardFiles& files = story.files;
  f.wakeSentencesAfterBurn += files.wakeSentencesAfterBurn > 0 ? 1u : 0u;
  if (files.result == "burned" && files.burnsStarted == 1 && files.wakeSentencesAfterBurn == 0) {
    ++f.burnedOnce;
  }
  if (files.result == "failed" || files.result == "pulled") {
    ++f.failedBoards;
    if (story.failFault || story.pullFault) {
      ++f.failedByFault;
    } else if (story.killCase == KillCase::kBeforeItsLog || story.takenOut) {
      ++f.failedByKill;
    }
  }
  uint64_t reachedRom = 0;
  for (const LogLine* line : story.lines) {
    reachedRom += line->unit ? 1u : 0u;
  }
  if (reachedRom >= 2 || Count(story.lines, UnitResult::kPass) >= 2) {
    ++f.burnedTwice;
    verdict.problems.push_back(BoardName(story) + ": burned twice (" + std::to_string(reachedRom) +
                               " attempts reached its boot ROM)");
  }
  if (story.takenOut) {
    CheckTakenOut(story, verdict);
  } else if (story.killCase == KillCase::kNone) {
    CheckUntouched(story, verdict);
  } else {
    CountKill(story, inputs, verdict);
  }
  CheckPassLogged(story, inputs, verdict);
}

// The unit numbers the log names (how often each) against the series the state file says was
// issued.
void JudgeUnits(const UnitSeriesPlan& plan, const std::map<uint64_t, uint64_t>& units,
                Verdict& verdict) {
  SoakFigures& f = verdict.figures;
  for (const auto& [unit, times] : units) {
    if (times > 1) {
      ++f.unitsDuplicated;
      verdict.problems.push_back("unit " + std::to_string(unit) + " logged " +
                                 std::to_string(times) + " times");
    }
    if (unit < plan.first || unit >= plan.next || (unit - plan.first) % plan.step != 0) {
      verdict.problems.push_back("unit " + std::to_string(unit) +
                                 " lies outside what the state file says was issued");
    }
  }
  if (plan.next < plan.first) {
    verdict.problems.push_back("the unit state file cannot be read");
    return;
  }
  f.unitsIssued = (plan.next - plan.first) / plan.step;
  f.unitsUnlogged = f.unitsIssued >= units.size() ? f.unitsIssued - units.size() : 0;
  if (f.unitsUnlogged > 0) {
    verdict.notes.push_back(std::to_string(f.unitsUnlogged) +
                            " unit numbers used up by attempts a kill cut before they were logged");
  }
}

void JudgeLog(const VerdictInputs& inputs, Verdict& verdict) {
  SoakFigures& f = verdict.figures;
  const LogReading& log = *inputs.log;
  f.logLines = log.lines.size() + log.bad.size();
  f.tornLines = log.bad.size();
  for (const std::string& bad : log.bad) {
    verdict.problems.push_back("log line not a whole record: " + bad.substr(0, 120));
  }
  std::set<std::string> images;
  std::map<uint64_t, uint64_t> units;
  for (const LogLine& line : log.lines) {
    f.passLines += line.result == UnitResult::kPass ? 1u : 0u;
    f.failLines += line.result == UnitResult::kFail ? 1u : 0u;
    f.interruptedLines += line.result == UnitResult::kInterrupted ? 1u : 0u;
    images.insert(line.imageSha256);
    if (line.unit) {
      ++units[*line.unit];
    }
  }
  // A burn a kill cut short is logged as interrupted by the restarted station, started before
  // that kill and written after it; any other interrupted line is a board that was in place at
  // the end, and none was.
  uint64_t cutByKills = 0;
  for (const LogLine& line : log.lines) {
    const bool cut =
        line.result == UnitResult::kInterrupted &&
        std::any_of(inputs.runs->begin(), inputs.runs->end(), [&line](const StationRun& run) {
          return run.killed && line.started <= run.end && line.time > run.end;
        });
    cutByKills += cut ? 1u : 0u;
  }
  if (f.interruptedLines > cutByKills) {
    verdict.problems.push_back(std::to_string(f.interruptedLines - cutByKills) +
                               " attempts logged as interrupted with no kill to cut them: no "
                               "board was in place at the end");
  }
  if (images.size() > 1) {
    verdict.problems.push_back("the log names more than one image");
  }
  f.unmatchedLines = inputs.history->unmatched.size();
  for (const LogLine* line : inputs.history->unmatched) {
    verdict.problems.push_back("log line of " + line->port + " " + line->device + " (sequence " +
                               std::to_string(line->sequence) + ") matches no board");
  }
  JudgeUnits(inputs.units, units, verdict);
}

// The last run's own counts (its --json report) against the log lines it wrote.
void JudgeLastRun(const VerdictInputs& inputs, Verdict& verdict) {
  if (inputs.runs->empty()) {
    verdict.problems.push_back("the station never ran");
    return;
  }
  const StationRun& last = inputs.runs->back();
  const nlohmann::json report = nlohmann::json::parse(last.out, nullptr, false);
  if (report.is_discarded() || !report.contains("total") || !report["total"].is_object()) {
    verdict.problems.push_back("the last run printed no JSON report (exit " +
                               std::to_string(last.exitCode) + "): " + last.out.substr(0, 200));
    return;
  }
  std::map<std::string, uint64_t> logged;
  for (const LogLine& line : inputs.log->lines) {
    if (line.offset >= last.logBytesAtStart) {
      ++logged[line.result == UnitResult::kPass   ? "passed"
               : line.result == UnitResult::kFail ? "failed"
                                                  : "interrupted"];
    }
  }
  for (const char* key : {"passed", "failed", "interrupted"}) {
    const nlohmann::json& count = report["total"][key];
    if (!count.is_number_unsigned() || count.get<uint64_t>() != logged[key]) {
      verdict.problems.push_back(std::string("the last run reports ") + key + " " + count.dump() +
                                 ", its log lines say " + std::to_string(logged[key]));
    }
  }
}

}  // namespace

Verdict Judge(const VerdictInputs& inputs) {
  Verdict verdict;
  SoakFigures& f = verdict.figures;
  f.runs = inputs.runs->size();
  for (const StationRun& run : *inputs.runs) {
    f.kills += run.killed ? 1u : 0u;
  }
  for (const BoardStory& story : inputs.history->boards) {
    JudgeBoard(story, inputs, verdict);
  }
  JudgeLog(inputs, verdict);
  JudgeLastRun(inputs, verdict);
  if (f.unitsUnlogged > f.kills * 4) {
    verdict.problems.push_back("more unit numbers went missing than the kills can explain");
  }
  return verdict;
}

void PrintTable(const Verdict& verdict, bool listProblems) {
  const SoakFigures& f = verdict.figures;
  const auto row = [](const char* what, uint64_t value) {
    std::printf("  %-64s %8llu\n", what, static_cast<unsigned long long>(value));
  };
  std::printf("\n");
  row("boards presented", f.boards);
  row("boards reported by their fixture", f.boardsReported);
  row("boards burned exactly once", f.burnedOnce);
  row("boards burned twice (must be 0)", f.burnedTwice);
  row("failed boards (failed or pulled)", f.failedBoards);
  row("  of them planned faults", f.failedByFault);
  row("  of them cut by a kill", f.failedByKill);
  row("  of them neither (told in the notes)", f.failedUnplanned);
  row("station runs", f.runs);
  row("kills (SIGKILL)", f.kills);
  row("kills that found a board before its attempt was logged", f.killsAmidBurn);
  row("kills that found a board after its attempt was logged", f.killsAfterLog);
  row("re-burns after kill: board already logged", f.reburnsOfLoggedBoards);
  row("re-burns after kill: burn cut by the kill", f.reburnsOfCutBoards);
  row("  of them passed (the kill came before the boot ROM answered)", f.reburnsOfCutBoardsPassed);
  row("boards that heard a wake-up after their burn", f.wakeSentencesAfterBurn);
  row("log lines", f.logLines);
  row("  pass", f.passLines);
  row("  fail", f.failLines);
  row("  interrupted", f.interruptedLines);
  row("torn or unreadable log lines", f.tornLines);
  row("log lines that match no board", f.unmatchedLines);
  row("unit numbers issued", f.unitsIssued);
  row("unit numbers logged twice", f.unitsDuplicated);
  row("unit numbers used up by a kill before being logged", f.unitsUnlogged);
  row("boards burned whose pass is not logged", f.burnedUnlogged);
  row("passed boards whose flash is not image + unit", f.flashMismatches);
  row("boards taken out after a restarted station waited for them", f.takenOut);
  if (listProblems) {
    for (const std::string& note : verdict.notes) {
      std::printf("note: %s\n", note.c_str());
    }
  }
  for (const std::string& problem : verdict.problems) {
    std::printf("PROBLEM: %s\n", problem.c_str());
  }
  std::printf("%s\n", verdict.problems.empty() ? "station soak passed" : "station soak FAILED");
}

}  // namespace tarvok::stationsoak
