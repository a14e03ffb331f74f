#include "tools/station-soak/BoardHistory.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tarvok::stationsoak {
namespace {

// The fixture's own arrival times are read a little after the fact; an attempt never starts
// before its board arrived, since the station lets a new port settle first.
constexpr auto kArrivalSlack = std::chrono::milliseconds(250);

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  return whole.str();
}

uint64_t Count(const nlohmann::json& record, const char* key) {
  const auto found = record.find(key);
  return found != record.end() && found->is_number_unsigned() ? found->get<uint64_t>() : 0;
}

// The board of `fixture` an attempt logged in `line` was made on, counted from 1; 0 when none.
// The device must be the board's own pseudo-terminal (when the log names one of them), and the
// attempt's start the latest arrival before it.
uint32_t BoardOfLine(const Fixture& fixture, const LogLine& line) {
  const auto start = line.started;
  bool deviceKnown = false;
  for (const BoardSeen& board : fixture.Boards()) {
    deviceKnown = deviceKnown || board.device == line.device;
  }
  uint32_t found = 0;
  const std::vector<BoardSeen>& boards = fixture.Boards();
  for (std::size_t k = 0; k < boards.size(); ++k) {
    const BoardSeen& board = boards[k];
    if (board.hasArrived && board.arrived <= start + kArrivalSlack &&
        (!deviceKnown || board.device == line.device)) {
      found = static_cast<uint32_t>(k + 1);
    }
  }
  return found;
}

// The run began a burn on `link` after `seen` arrived: it had begun on that board.
bool RunBeganOn(const StationRun& run, const std::string& link, const BoardSeen& seen) {
  for (const auto& [when, port] : run.burningPorts) {
    if (when >= seen.arrived && port == link) {
      return true;
    }
  }
  return false;
}

// The restarted station logged an attempt on the board as cut by the run's kill: started
// before it, recorded after it. The station says so from its ledger, which held the board
// before the first byte went to it; the run's line saying it burns comes a moment later, and a
// kill may fall in between.
bool LoggedAsCutBy(const BoardStory& story, const StationRun& run) {
  return std::any_of(story.lines.begin(), story.lines.end(), [&run](const LogLine* line) {
    return line->result == UnitResult::kInterrupted && line->started <= run.end &&
           line->time > run.end;
  });
}

// The first kill of a run that had begun on the board while it was in place, and whether its
// attempt was logged by then. A kill before the run began on it leaves the board as new.
void FindKill(BoardStory& story, const BoardSeen& seen, const std::string& link,
              const std::vector<StationRun>& runs) {
  for (const StationRun& run : runs) {
    if (!run.killed || !seen.hasArrived || run.end < seen.arrived ||
        (seen.hasLeft && run.end >= seen.left) ||
        (!RunBeganOn(run, link, seen) && !LoggedAsCutBy(story, run))) {
      continue;
    }
    story.killedAt = run.end;
    story.killCase = KillCase::kBeforeItsLog;
    for (const LogLine* line : story.lines) {
      if (line->time <= run.end) {
        story.killCase = KillCase::kAfterItsLog;
      }
    }
    break;
  }
  if (story.killCase == KillCase::kNone) {
    return;
  }
  for (const LogLine* line : story.lines) {
    if (line->started > story.killedAt) {
      ++story.attemptsAfterKill;
      story.passesAfterKill += line->result == UnitResult::kPass ? 1u : 0u;
    }
  }
}

}  // namespace

BoardFiles ReadBoardFiles(const std::string& boardDir, uint32_t number) {
  const std::string base = boardDir + "/board-" + std::to_string(number);
  BoardFiles files;
  const nlohmann::json record = nlohmann::json::parse(ReadWhole(base + ".json"), nullptr, false);
  if (record.is_discarded() || !record.is_object() || !record.contains("result") ||
      !record["result"].is_string()) {
    return files;
  }
  files.found = true;
  files.result = record["result"].get<std::string>();
  files.burnsStarted = Count(record, "burns_started");
  files.wakeSentencesAfterBurn = Count(record, "wake_sentences_after_burn");
  const std::string flash = ReadWhole(base + ".bin");
  files.flash.assign(flash.begin(), flash.end());
  return files;
}

History BuildHistory(const std::vector<Fixture>& fixtures, const LogReading& log,
                     const std::vector<StationRun>& runs,
                     const std::vector<std::set<uint32_t>>& takenOut) {
  History history;
  std::vector<std::size_t> firstOfFixture;
  for (uint32_t f = 0; f < fixtures.size(); ++f) {
    const FixtureSetup& setup = fixtures[f].Setup();
    firstOfFixture.push_back(history.boards.size());
    for (uint32_t number = 1; number <= setup.boards; ++number) {
      BoardStory story;
      story.fixture = f;
      story.number = number;
      story.failFault = setup.faults.failing.count(number) != 0;
      story.pullFault = setup.faults.pulled.count(number) != 0;
      story.takenOut = takenOut[f].count(number) != 0;
      story.files = ReadBoardFiles(setup.boardDir, number);
      history.boards.push_back(std::move(story));
    }
  }
  for (const LogLine& line : log.lines) {
    uint32_t board = 0;
    std::size_t f = 0;
    while (f < fixtures.size() && fixtures[f].Setup().link != line.port) {
      ++f;
    }
    if (f < fixtures.size()) {
      board = BoardOfLine(fixtures[f], line);
    }
    if (board == 0) {
      history.unmatched.push_back(&line);
      continue;
    }
    history.boards[firstOfFixture[f] + board - 1].lines.push_back(&line);
  }
  for (BoardStory& story : history.boards) {
    FindKill(story, fixtures[story.fixture].Boards()[story.number - 1],
             fixtures[story.fixture].Setup().link, runs);
  }
  return history;
}

}  // namespace tarvok::stationsoak
