// One station port through whole boards' lives, in virtual time: boards arrive and leave on a
// timeline, each is a simulated chip behind the fake serial device, and the port must burn
// every board exactly once, record it, and never take a board that did not leave for a new
// one.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>

#include "burn/BurnSequence.h"
#include "sim/Chip.h"
#include "station/core/StationPort.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/StationFixture.h"

namespace tarvok {
namespace {

using testing::FakeSerialDevice;

using testing::BoardPlan;
using testing::Fixture;

uint32_t LittleEndianAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST(StationPort, BurnsEveryBoardOnceAndRecordsIt) {
  const BoardSignalChoice dsr{BoardSignal::kModemLine, kModemDsr, 3000};
  const BoardSignalChoice port{BoardSignal::kPort, 0, 3000};
  const BoardSignalChoice operatorConfirms{BoardSignal::kOperator, 0, 3000};
  const BoardSignalChoice chip{BoardSignal::kChip, 0, 3000};
  // Each board needs about 11 s of virtual time to burn (the loader at 9600 baud).
  const std::vector<BoardPlan> threeBoards = {{1000, 40000}, {45000, 80000}, {85000, 120000}};
  const struct {
    const char* name;
    BoardSignalChoice signal;
    std::vector<BoardPlan> boards;
    bool appSpeaks;
    std::vector<uint64_t> confirmAtMs;
    uint64_t endMs;
    std::vector<std::string> results;
    std::vector<uint32_t> burnsPerBoard;
    std::string notice;                            // a notice the port must have given
    std::optional<BoardInPlace> killedDuringBurn;  // what a killed station left on disk
    std::vector<uint64_t> units;                   // when not 1000, 1001, ...
    // The sequence number of a record the killed station had logged (0: an empty log).
    uint64_t loggedBefore = 0;
    std::vector<uint32_t> statuses = {};  // of the records, when given
    std::vector<bool> portWentAway = {};  // of the records, when given
    bool pulledPortFails = false;         // see Fixture
    bool tellsDeviceIdentity = false;     // see Fixture
    uint64_t stopAtMs = 0;                // the station is stopped then (Ctrl-C), amid a burn
  } cases[] = {
      {"a modem line",
       dsr,
       threeBoards,
       true,
       {},
       150000,
       {"pass", "pass", "pass"},
       {1, 1, 1},
       "",
       std::nullopt,
       {}},
      {"the port",
       port,
       threeBoards,
       true,
       {},
       150000,
       {"pass", "pass", "pass"},
       {1, 1, 1},
       "",
       std::nullopt,
       {}},
      // A confirmation while a board burns (at 4 s) starts nothing: it was not waited for.
      {"the operator",
       operatorConfirms,
       threeBoards,
       true,
       {2000, 4000, 46000, 86000},
       150000,
       {"pass", "pass", "pass"},
       {1, 1, 1},
       "",
       std::nullopt,
       {}},
      {"the chip's own traffic",
       chip,
       threeBoards,
       true,
       {},
       150000,
       {"pass", "pass", "pass"},
       {1, 1, 1},
       "",
       std::nullopt,
       {}},
      // Silent firmware left in place: it must never be taken for a board that left.
      {"silent firmware left in place",
       chip,
       {{1000, 0}},
       false,
       {},
       200000,
       {"pass"},
       {1},
       "no sign of the board leaving",
       std::nullopt,
       {}},
      {"three failing boards in a row stop the port",
       dsr,
       {{1000, 40000, true}, {45000, 80000, true}, {85000, 120000, true}, {125000, 160000}},
       true,
       {},
       200000,
       {"fail", "fail", "fail"},
       {1, 1, 1, 0},
       "",
       std::nullopt,
       {}},
      // The board in place when the station was killed is recorded, and never burned again,
      // though the killed station named the port \\.\com7 and this one names it COM7.
      {"restarted after a kill during a burn",
       dsr,
       {{0, 20000}, {25000, 60000}},
       true,
       {},
       100000,
       {"interrupted", "pass"},
       {0, 1},
       "",
       BoardInPlace{std::nullopt, "2026-12-08T19:00:00.000Z", "fixture", true, 999},
       {999, 1000},
       41,
       {0, 0}},
      // Stopped amid a burn: interrupted, which no step failed, as the kill above.
      {"stopped during a burn",
       dsr,
       {{1000, 0}},
       true,
       {},
       20000,
       {"interrupted"},
       {0},
       "",
       std::nullopt,
       {},
       0,
       {0},
       {false},
       false,
       false,
       3000},
      // A board pulled amid its burn whose failure is told only once the next board is in
      // place under the same port name: that next board is burned, not waited for to leave.
      // The boot ROM's reads give up at the first silence, before the port's going shows.
      {"a board pulled amid the loader's download, its port gone",
       port,
       {{1000, 5000}, {5500, 60000}},
       true,
       {},
       80000,
       {"fail", "pass"},
       {0, 1},
       "",
       std::nullopt,
       {},
       0,
       {0xA0006, 0},
       {true, false},
       true},
      {"a board pulled amid its burn, its port only quiet, another device in its place",
       port,
       {{1000, 5000}, {5500, 60000}},
       true,
       {},
       80000,
       {"fail", "pass"},
       {0, 1},
       "",
       std::nullopt,
       {},
       0,
       {0xA0006, 0},
       {false, false},
       false,
       true},
      // The board burned before a kill was changed for the next while the station was down.
      {"restarted with another board in place of the one burned",
       port,
       {{0, 40000}},
       true,
       {},
       60000,
       {"interrupted", "pass"},
       {1},
       "",
       BoardInPlace{std::nullopt, "2026-12-08T19:00:00.000Z", "COM7", true, 999, "board 7"},
       {999, 1000},
       0,
       {0, 0},
       {false, false},
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const auto imageBytes = testing::ImageBytes(8 * 1024);
    StationSetup setup;
    setup.name = "bench";
    setup.imagePath = "app.bin";
    setup.image = testing::MakeImage(imageBytes);
    setup.ports = {{"COM7", c.signal}};
    setup.units = UnitNumberPlan{0x100, 1000, 1, UnitEncoding::kLittleEndian32, 4};
    std::string problem;
    if (c.loggedBefore != 0) {
      UnitRecord earlier;
      earlier.time = earlier.started = "2026-12-08T18:59:00.000Z";
      earlier.port = "COM7";
      earlier.result = UnitResult::kPass;
      earlier.sequence = c.loggedBefore;
      std::ofstream(folder.PathOf("log.jsonl")) << UnitRecordLine(earlier);
    }
    const auto log = StationLog::Open(folder.PathOf("log.jsonl"), problem);
    const auto units = UnitNumberStore::Open(folder.PathOf("units"), *setup.units, problem);
    const auto ledger = BoardLedger::Open(folder.PathOf("in-place"), problem);
    ASSERT_TRUE(log && units && ledger) << problem;
    if (c.killedDuringBurn) {
      ASSERT_TRUE(ledger->Set("\\\\.\\com7", *c.killedDuringBurn, problem)) << problem;
    }

    Fixture fixture(c.boards, c.appSpeaks, c.signal.kind == BoardSignal::kPort);
    fixture.pulledPortFails = c.pulledPortFails;
    fixture.tellsDeviceIdentity = c.tellsDeviceIdentity;
    StationWorld world = fixture.World();
    OperatorDesk desk(1);
    BoardBudget budget(0);
    std::atomic<uint64_t> sequence{log->LastSequence()};
    StationShared shared{&setup,      &world,       &fixture, &desk,     log.get(),
                         units.get(), ledger.get(), &budget,  &sequence, {}};
    StationPort station(0, shared);
    shared.stopStation = [&](const std::string& reason) { station.Stop(reason); };
    fixture.confirmAtMs = c.confirmAtMs;
    fixture.endMs = c.endMs;
    fixture.confirm = [&desk] { desk.Confirm("", {"COM7"}); };
    if (c.stopAtMs != 0) {
      fixture.confirmAtMs = {c.stopAtMs};
      fixture.confirm = [&station] { station.Stop("interrupted"); };
    }
    fixture.stop = [&](const std::string& reason) { station.Stop(reason); };
    station.Run();

    std::vector<std::string> results;
    for (const UnitRecord& record : fixture.records) {
      results.push_back(UnitResultWord(record.result));
    }
    EXPECT_EQ(results, c.results);
    std::vector<uint32_t> burns;
    for (const auto& board : fixture.boards_) {
      burns.push_back(board.burns);
    }
    EXPECT_EQ(burns, c.burnsPerBoard);
    // Each board carries its own unit number, in the order the boards came; a failed board
    // used its number up.
    for (std::size_t i = 0; i < fixture.records.size(); ++i) {
      EXPECT_TRUE(fixture.records[i].hasUnit);
      EXPECT_EQ(fixture.records[i].unit, c.units.empty() ? 1000 + i : c.units[i]);
      if (i < c.results.size() && c.results[i] == "pass" && i < fixture.boards_.size()) {
        const auto& flash = fixture.boards_[i].flash;
        ASSERT_GE(flash.size(), imageBytes.size());
        EXPECT_EQ(LittleEndianAt(flash, 0x100), fixture.records[i].unit);
        auto expected = imageBytes;
        std::copy_n(flash.begin() + 0x100, 4, expected.begin() + 0x100);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
      }
    }
    const auto burned = std::count_if(fixture.records.begin(), fixture.records.end(),
                                      [](const UnitRecord& r) { return !r.started.empty(); });
    EXPECT_EQ(units->Next(), 1000 + static_cast<uint64_t>(burned) - (c.killedDuringBurn ? 1 : 0));
    // Every board the port burned and saw leave is off the ledger.
    EXPECT_EQ(ledger->Find("COM7").has_value(), c.boards.back().leaveMs == 0 ||
                                                    c.boards.back().leaveMs > c.endMs ||
                                                    c.results.back() == "fail");
    // The shared image stays as it was read.
    EXPECT_TRUE(std::equal(imageBytes.begin(), imageBytes.end(), setup.image->data.get()));
    // One whole line per record, after any the killed station left, numbered on from them.
    std::ifstream lines(folder.PathOf("log.jsonl"));
    std::vector<UnitRecord> logged;
    for (std::string line; std::getline(lines, line);) {
      const std::optional<UnitRecord> record = ParseUnitRecordLine(line);
      ASSERT_TRUE(record) << line;
      logged.push_back(*record);
    }
    const std::size_t before = c.loggedBefore != 0 ? 1 : 0;
    ASSERT_EQ(logged.size(), before + fixture.records.size());
    for (std::size_t i = 0; i < fixture.records.size(); ++i) {
      const UnitRecord& record = logged[before + i];
      EXPECT_EQ(UnitRecordLine(record), UnitRecordLine(fixture.records[i]));
      EXPECT_EQ(record.sequence, c.loggedBefore + 1 + i);
      if (i < c.statuses.size()) {
        EXPECT_EQ(record.status, c.statuses[i]) << i;
        EXPECT_EQ(record.stepResult == 0, c.statuses[i] == 0) << i;
      }
      if (i < c.portWentAway.size()) {
        EXPECT_EQ(record.portWentAway, c.portWentAway[i]) << i;
        EXPECT_EQ(record.message.find("the port went away") != std::string::npos, c.portWentAway[i])
            << record.message;
      }
      // From the attempt's start to its record, a kill's down time included.
      const auto started = ParseUtcTimestamp(record.started);
      const auto time = ParseUtcTimestamp(record.time);
      ASSERT_TRUE(started && time) << record.started << " " << record.time;
      EXPECT_EQ(record.totalSeconds, std::chrono::duration<double>(*time - *started).count());
    }
    if (!c.notice.empty()) {
      EXPECT_TRUE(std::any_of(fixture.notices.begin(), fixture.notices.end(),
                              [&](const std::string& n) { return n.find(c.notice) == 0; }));
    }
    if (c.results.size() == 3 && c.results.back() == "fail") {
      EXPECT_NE(station.StopReason().find("3 boards failed in a row"), std::string::npos)
          << station.StopReason();
    }
  }
}

}  // namespace
}  // namespace tarvok
