// The station window's logic over a real station whose port runs a fixture in virtual time:
// what a tile shows through whole boards' lives, the counts, the records, a port stopped in the
// middle of a burn, a port that gives up after failures and starts again, and closing while a
// board burns.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>

#include "station/panel/StationPanel.h"
#include "station/panel/StationPanelText.h"
#include "tests/support/FakeStationView.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/StationFixture.h"

namespace tarvok {
namespace {

using testing::BoardPlan;
using testing::FakeStationView;
using testing::Fixture;

constexpr auto kStopLimit = std::chrono::seconds(20);  // real time; the ports stop at once

// A station of one port on the fixture, its parts on disk in `folder`.
StationParts OnePortStation(const ScratchFolder& folder, BoardSignalChoice signal,
                            uint32_t failuresToStop) {
  StationParts parts;
  parts.setup.name = "line 1";
  parts.setup.imagePath = "/srv/images/app.bin";
  parts.setup.image = testing::MakeImage(testing::ImageBytes(8 * 1024));
  parts.setup.imageSha256 = std::string(64, 'a');
  parts.setup.ports = {{"fixture", signal}};
  parts.setup.failuresToStopPort = failuresToStop;
  std::string problem;
  parts.log = StationLog::Open(folder.PathOf("log.jsonl"), problem);
  parts.ledger = BoardLedger::Open(folder.PathOf("in-place"), problem);
  EXPECT_TRUE(parts.log && parts.ledger) << problem;
  return parts;
}

std::vector<std::string> LogResults(const ScratchFolder& folder) {
  std::ifstream in(folder.PathOf("log.jsonl"));
  std::vector<std::string> results;
  for (std::string line; std::getline(in, line);) {
    for (const char* result : {"pass", "fail", "interrupted"}) {
      if (line.find(std::string("\"result\":\"") + result + "\"") != std::string::npos) {
        results.push_back(result);
      }
    }
  }
  return results;
}

TEST(StationPanel, TilesFollowEachBoardsLife) {
  const BoardSignalChoice dsr{BoardSignal::kModemLine, kModemDsr, 3000};
  const BoardSignalChoice operatorConfirms{BoardSignal::kOperator, 0, 3000};
  // Each board needs about 11 s of virtual time to burn.
  const struct {
    const char* name;
    BoardSignalChoice signal;
    std::vector<BoardPlan> boards;
    uint32_t failuresToStop;
    uint64_t endMs;
    int stopAtPercent;  // the operator stops the port there; -1 never
    std::vector<std::string> steps;
    std::string counts;
    std::string stopDetail;            // in the stopped tile's detail
    std::vector<std::string> records;  // newest first, each record line's result
    uint64_t restartEndMs;             // the port is started again once it stopped; 0 not
    std::vector<std::string> stepsAfterRestart;
    std::string countsAfterRestart;
  } cases[] = {
      {"a passing board, then a failing one",
       dsr,
       {{1000, 40000}, {45000, 80000, true}},
       3,
       100000,
       -1,
       {"STOPPED", "WAITING FOR BOARD", "BURNING", "PASS", "WAITING FOR BOARD", "BURNING", "FAIL",
        "STOPPED"},
       "pass 1   fail 1",
       "interrupted",
       {"FAIL", "PASS"},
       0,
       {},
       ""},
      {"stopped in the middle of a burn",
       dsr,
       {{1000, 40000}},
       3,
       100000,
       50,
       {"STOPPED", "WAITING FOR BOARD", "BURNING", "INTERRUPTED", "STOPPED"},
       "pass 0   fail 0   interrupted 1",
       "stopped by the operator",
       {"INTERRUPTED"},
       0,
       {},
       ""},
      // Started again, the port first waits for the failed board to leave; its counts go on.
      {"two failures in a row stop the port, which starts again",
       dsr,
       {{1000, 40000, true}, {45000, 80000, true}, {85000, 120000}},
       2,
       200000,
       -1,
       {"STOPPED", "WAITING FOR BOARD", "BURNING", "FAIL", "BURNING", "FAIL", "STOPPED"},
       "pass 0   fail 2",
       "2 boards failed in a row",
       {"FAIL", "FAIL"},
       200000,
       {"STOPPED", "FAIL", "BURNING", "PASS", "WAITING FOR BOARD", "STOPPED"},
       "pass 1   fail 2"},
      // The operator's board cannot be seen to leave: PASS stays up until the next board.
      {"the operator presses Next board",
       operatorConfirms,
       {{1000, 40000}},
       3,
       30000,
       -1,
       {"STOPPED", "WAITING FOR BOARD", "BURNING", "PASS", "STOPPED"},
       "pass 1   fail 0",
       "interrupted",
       {"PASS"},
       0,
       {},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    Fixture fixture(c.boards, true, false);
    fixture.endMs = c.endMs;
    const auto view = std::make_shared<FakeStationView>();
    const auto panel = StationPanel::Create(OnePortStation(folder, c.signal, c.failuresToStop),
                                            fixture.World(), view);
    fixture.stop = [&panel] {
      if (panel) {
        panel->RunningStation().StopPort(0, PortStop{.kind = PortStopKind::kInterrupted});
      }
    };
    // The operator presses Next board at 2 s, while the port waits.
    bool pressed = false;
    fixture.confirmAtMs = {2000};
    fixture.confirm = [&] {
      pressed = true;
      panel->OnNextBoard(0);
    };
    bool passWithNextBoard = false;
    view->onTile = [&](std::size_t port, const StationTile& tile) {
      if (c.stopAtPercent >= 0 && tile.percent >= c.stopAtPercent) {
        panel->OnStopPort(port);
      }
      passWithNextBoard = passWithNextBoard || (tile.words == "PASS" && tile.nextBoard);
    };
    panel->OnOpen();
    panel->OnStartStation();
    ASSERT_TRUE(panel->AwaitStopped(kStopLimit));

    EXPECT_EQ(view->Steps(0), c.steps);
    const StationTile tile = view->Tile(0);
    EXPECT_EQ(tile.countsText, c.counts);
    EXPECT_NE(tile.detail.find(c.stopDetail), std::string::npos) << tile.detail;
    EXPECT_FALSE(tile.running);
    EXPECT_FALSE(view->Running());
    const std::vector<std::string> records = view->Records();
    ASSERT_EQ(records.size(), c.records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
      EXPECT_NE(records[k].find("  fixture  " + c.records[k]), std::string::npos) << records[k];
    }
    EXPECT_EQ(view->Header().totals, c.counts);
    // A burn's bar only ever grows, from 0 (where the next burn starts again), and a passed
    // burn ends at 100.
    const std::vector<int> percents = view->Percents(0);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    for (std::size_t k = 1; k < percents.size(); ++k) {
      EXPECT_TRUE(percents[k] >= percents[k - 1] || percents[k] == 0)
          << percents[k - 1] << " then " << percents[k];
    }
    if (c.counts.rfind("pass 1", 0) == 0) {
      EXPECT_NE(std::find(percents.begin(), percents.end(), 100), percents.end());
    }
    if (c.signal.kind == BoardSignal::kOperator) {
      EXPECT_TRUE(pressed);
      EXPECT_TRUE(passWithNextBoard);
    }
    if (c.restartEndMs != 0) {
      fixture.endMs = c.restartEndMs;
      const std::size_t before = view->Steps(0).size();
      panel->OnStartPort(0);
      ASSERT_TRUE(panel->AwaitStopped(kStopLimit));
      const std::vector<std::string> steps = view->Steps(0);
      EXPECT_EQ(
          std::vector<std::string>(steps.begin() + static_cast<long>(before) - 1, steps.end()),
          c.stepsAfterRestart);
      EXPECT_EQ(view->Tile(0).countsText, c.countsAfterRestart);
      const PortCounts counts = panel->RunningStation().Counts(0);
      EXPECT_EQ(counts.passed, 1U);
      EXPECT_EQ(counts.failed, 2U);
    }
    EXPECT_EQ(LogResults(folder).size(), view->Records().size());
  }
}

// Closing while a board burns asks first; a "no" keeps it burning, a "yes" stops the port at
// its next byte and records the board as interrupted. Nothing burning, nothing is asked.
TEST(StationPanel, ClosingWhileABoardBurnsAsksThenInterruptsIt) {
  ScratchFolder folder;
  Fixture fixture({{1000, 40000}}, true, false);
  fixture.endMs = 100000;
  const auto view = std::make_shared<FakeStationView>();
  const BoardSignalChoice dsr{BoardSignal::kModemLine, kModemDsr, 3000};
  const auto panel = StationPanel::Create(OnePortStation(folder, dsr, 3), fixture.World(), view);
  fixture.stop = [&panel] {
    panel->RunningStation().StopPort(0, PortStop{.kind = PortStopKind::kInterrupted});
  };
  // The burn is held at half way until the test has asked to close.
  std::mutex mutex;
  std::condition_variable changed;
  bool halfWay = false;
  bool release = false;
  view->onTile = [&](std::size_t, const StationTile& tile) {
    if (tile.percent < 50 || halfWay) {
      return;
    }
    std::unique_lock lock(mutex);
    halfWay = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  panel->OnOpen();
  panel->OnStartStation();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, kStopLimit, [&] { return halfWay; }));
  }
  view->answer = false;
  EXPECT_FALSE(panel->OnCloseRequested());
  EXPECT_EQ(panel->BoardsBurning(), 1U);
  view->answer = true;
  EXPECT_TRUE(panel->OnCloseRequested());
  {
    const std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  ASSERT_TRUE(panel->AwaitStopped(kStopLimit));

  const std::vector<std::string> questions = view->Questions();
  ASSERT_EQ(questions.size(), 2U);
  EXPECT_EQ(questions[0],
            "A board is burning. Stop now? It is recorded as interrupted and must be burned "
            "again.");
  const StationTile tile = view->Tile(0);
  EXPECT_EQ(tile.words, "STOPPED");
  EXPECT_EQ(tile.detail, "the window was closed");
  EXPECT_EQ(LogResults(folder), std::vector<std::string>{"interrupted"});
  EXPECT_TRUE(panel->OnCloseRequested());
  EXPECT_EQ(view->Questions().size(), 2U);
}

PortPhaseReason Leaving(BoardSignal signal, std::optional<UnitResult> board, bool beforeRestart) {
  PortPhaseReason reason;
  reason.signal = {signal, kModemDsr, 3000};
  reason.board = board;
  reason.fromBeforeRestart = beforeRestart;
  reason.burnsAgainWhenQuiet = signal == BoardSignal::kChip && board != UnitResult::kPass;
  return reason;
}

PortNotice NoticeOf(PortNoticeKind kind, bool operatorConfirms) {
  PortNotice notice;
  notice.kind = kind;
  notice.waitedMs = 6000;
  notice.operatorConfirms = operatorConfirms;
  return notice;
}

void RecordResult(TileState& tile, UnitResult result) {
  UnitRecord record;
  record.result = result;
  record.message =
      result == UnitResult::kPass ? "" : "the chip answered a write with a flash error";
  record.hasUnit = true;
  record.unit = 1234;
  tile.OnRecorded(record);
}

// What the tile shows (its words, a piece of its detail, its Next board button) after each of
// the station's calls: each notice in its own words, and Next board only where the port waits
// for the operator's confirmation.
TEST(StationPanel, TileWordsForEachSignal) {
  using Call = std::function<void(TileState&)>;
  const Call waking = [](TileState& t) { t.OnPhase(PortPhase::kWaitingForBoard, {}); };
  const Call burning = [](TileState& t) { t.OnPhase(PortPhase::kBurning, {}); };
  const Call passed = [](TileState& t) { RecordResult(t, UnitResult::kPass); };
  const Call failed = [](TileState& t) { RecordResult(t, UnitResult::kFail); };
  const Call passLeaves = [](TileState& t) {
    t.OnPhase(PortPhase::kWaitingForLeave, Leaving(BoardSignal::kChip, UnitResult::kPass, false));
  };
  const Call failLeaves = [](TileState& t) {
    t.OnPhase(PortPhase::kWaitingForLeave, Leaving(BoardSignal::kChip, UnitResult::kFail, false));
  };
  const struct {
    const char* name;
    BoardSignal signal;
    std::vector<Call> calls;
    std::vector<std::string> words;      // after each call
    std::vector<std::string> details{};  // in the detail after each call; empty: not checked
    std::vector<bool> nextBoard{};       // after each call; empty: never shown
  } cases[] = {
      // The chip's wake-ups that nobody answers are no burn: the tile keeps waiting.
      {.name = "chip",
       .signal = BoardSignal::kChip,
       .calls = {waking, burning, waking, burning, [](TileState& t) { t.OnProgress(4); }},
       .words = {"WAITING FOR BOARD", "WAITING FOR BOARD", "WAITING FOR BOARD", "WAITING FOR BOARD",
                 "BURNING 4 %"}},
      // A notice changes the detail, never the words; a late progress after the record is
      // not a burn.
      {.name = "port",
       .signal = BoardSignal::kPort,
       .calls = {burning, [](TileState& t) { t.OnProgress(47); },
                 [](TileState& t) {
                   PortNotice notice = NoticeOf(PortNoticeKind::kAdapterLatency, false);
                   notice.latencyTimerMs = 16;
                   t.OnNotice(notice);
                 },
                 failed, [](TileState& t) { t.OnProgress(60); },
                 [](TileState& t) {
                   PortNotice notice = NoticeOf(PortNoticeKind::kSlowNetwork, false);
                   notice.roundTripMs = 5;
                   notice.costPercent = 31;
                   t.OnNotice(notice);
                 }},
       .words = {"BURNING 0 %", "BURNING 47 %", "BURNING 47 %", "FAIL", "FAIL", "FAIL"},
       .details = {"", "", "latency timer 16 ms", "flash error", "flash error",
                   "round trip of 5 ms costs about 31 %"}},
      // Silent firmware: the chip signal cannot hear a passed board leave, and the operator
      // says it has; the button goes with the next board.
      {.name = "silent firmware",
       .signal = BoardSignal::kChip,
       .calls = {passed, passLeaves,
                 [](TileState& t) { t.OnNotice(NoticeOf(PortNoticeKind::kNoSignOfLeaving, true)); },
                 waking},
       .words = {"PASS", "PASS", "PASS", "WAITING FOR BOARD"},
       .details = {"", "remove the board", "firmware is silent", "waking"},
       .nextBoard = {false, false, true, false}},
      // A board that keeps talking: not silent firmware, and Next board once the port takes it.
      {.name = "the line not quiet during leaving",
       .signal = BoardSignal::kChip,
       .calls = {passed, passLeaves,
                 [](TileState& t) { t.OnNotice(NoticeOf(PortNoticeKind::kLeaveOverdue, false)); },
                 [](TileState& t) { t.OnNotice(NoticeOf(PortNoticeKind::kLineNotQuiet, true)); }},
       .words = {"PASS", "PASS", "PASS", "PASS"},
       .details = {"", "remove the board", "not been seen to leave for 6 s", "has not been quiet"},
       .nextBoard = {false, false, false, true}},
      // The port went away while its failed board was waited for: nothing to confirm.
      {.name = "no port during leaving",
       .signal = BoardSignal::kChip,
       .calls = {failed, failLeaves,
                 [](TileState& t) { t.OnNotice(NoticeOf(PortNoticeKind::kPortMissing, false)); }},
       .words = {"FAIL", "FAIL", "FAIL"},
       .details = {"flash error", "the next board is burned when it answers",
                   "no port COM5 on this machine"},
       .nextBoard = {false, false, false}},
      // A restarted station's passed board is shown as passed, to be removed.
      {.name = "a passed board from before a restart",
       .signal = BoardSignal::kChip,
       .calls = {[](TileState& t) {
         t.OnPhase(PortPhase::kWaitingForLeave,
                   Leaving(BoardSignal::kChip, UnitResult::kPass, true));
       }},
       .words = {"PASS"},
       .details = {"remove the board"}},
      // A burn cut by a kill: interrupted, and burned again when it answers.
      {.name = "a cut burn from before a restart",
       .signal = BoardSignal::kChip,
       .calls = {[](TileState& t) {
         t.OnPhase(PortPhase::kWaitingForLeave, Leaving(BoardSignal::kChip, std::nullopt, true));
       }},
       .words = {"INTERRUPTED"},
       .details = {"burned when it answers"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TileState tile(StationPortSetup{"COM5", {c.signal, kModemDsr, 3000}});
    for (std::size_t k = 0; k < c.calls.size(); ++k) {
      c.calls[k](tile);
      EXPECT_EQ(tile.Tile().words, c.words[k]) << "after call " << k;
      if (!c.details.empty()) {
        EXPECT_NE(tile.Tile().detail.find(c.details[k]), std::string::npos)
            << "after call " << k << ": " << tile.Tile().detail;
      }
      EXPECT_EQ(tile.Tile().nextBoard, !c.nextBoard.empty() && c.nextBoard[k])
          << "after call " << k;
    }
  }

  TileState failedTile(StationPortSetup{"COM5", {BoardSignal::kPort, kModemDsr, 3000}});
  RecordResult(failedTile, UnitResult::kFail);
  EXPECT_EQ(failedTile.Tile().detail, "the chip answered a write with a flash error");
  EXPECT_EQ(failedTile.Tile().unit, "last unit 1234");
  EXPECT_EQ(failedTile.Tile().tone, TileTone::kFail);
}

TEST(StationPanel, HeaderNamesTheImageAndTheRate) {
  StationSetup setup;
  setup.name = "line 1";
  setup.imagePath = "/srv/images/app-2.4.bin";
  setup.image = testing::MakeImage(testing::ImageBytes(4096));
  setup.imageSha256 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  const struct {
    PortCounts total;
    uint64_t boardsPerHour;
    std::string totals;
    std::string rate;
  } cases[] = {
      {{0, 0, 0}, 0, "pass 0   fail 0", "no board passed yet"},
      {{6, 1, 0}, 36, "pass 6   fail 1", "36 boards per hour"},
      {{1, 0, 2}, 40, "pass 1   fail 0   interrupted 2", "40 boards per hour"},
  };
  for (const auto& c : cases) {
    const StationHeader header = HeaderOf(setup, "/srv/log.jsonl", c.total, c.boardsPerHour);
    EXPECT_EQ(header.image, "app-2.4.bin   4096 bytes   SHA-256 0123456789ab");
    EXPECT_EQ(header.totals, c.totals);
    EXPECT_EQ(header.rate, c.rate);
    EXPECT_EQ(header.log, "log /srv/log.jsonl");
  }
}

// The boards per hour over the last boards passed: steady at a steady pace, whatever the
// pauses before the window, and unchanged however long the line then stands idle.
TEST(StationPanel, BoardsPerHourRollOverTheLastBoards) {
  // One board every `everyMs` from `firstMs` on, `count` of them.
  const auto paced = [](uint64_t firstMs, uint64_t everyMs, std::size_t count) {
    std::deque<uint64_t> times;
    for (std::size_t k = 0; k < count; ++k) {
      times.push_back(firstMs + k * everyMs);
    }
    while (times.size() > kRateBoards + 1) {
      times.pop_front();
    }
    return times;
  };
  std::deque<uint64_t> afterBreak = paced(0, 10'000, 30);  // 360 an hour, then
  for (int k = 1; k <= 10; ++k) {
    afterBreak.push_back(afterBreak.back() + (k == 1 ? 3'600'000 : 20'000));  // lunch, then 180
    afterBreak.pop_front();
  }
  const struct {
    const char* name;
    std::deque<uint64_t> passedMs;
    uint64_t startMs;
    uint64_t expected;
  } cases[] = {
      {.name = "none passed", .passedMs = {}, .startMs = 0, .expected = 0},
      {.name = "the first board, from the start",
       .passedMs = {90'000},
       .startMs = 0,
       .expected = 40},
      {.name = "a few, from the start",
       .passedMs = paced(10'000, 10'000, 5),
       .startMs = 0,
       .expected = 360},
      {.name = "two ports' boards at once",
       .passedMs = {60'000, 60'000},
       .startMs = 0,
       .expected = 120},
      {.name = "a long run at a steady pace",
       .passedMs = paced(0, 10'000, 500),
       .startMs = 0,
       .expected = 360},
      {.name = "an idle hour before the window is forgotten",
       .passedMs = paced(4'000'000, 10'000, 21),
       .startMs = 0,
       .expected = 360},
      {.name = "a break inside the window lowers it",
       .passedMs = afterBreak,
       .startMs = 0,
       .expected = 20 * 3'600'000ULL / (10 * 10'000 + 3'600'000 + 9 * 20'000)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RollingBoardsPerHour(c.passedMs, c.startMs), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tarvok
