// One station port through whole boards' lives, in virtual time: boards arrive and leave on a
// timeline, each is a simulated chip behind the fake serial device, and the port must burn
// every board exactly once, record it, and never take a board that did not leave for a new
// one.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>

#include "burn/BurnSequence.h"
#include "burn/Crc32.h"
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
  // Each board needs about 11 s of virtual time to burn (the loader at 9600 baud, --classic:
  // the timelines below are set by that download; one case burns through the boot stage).
  const std::vector<BoardPlan> threeBoards = {{1000, 40000}, {45000, 80000}, {85000, 120000}};
  const struct {
    const char* name = "";
    BoardSignalChoice signal{};
    std::vector<BoardPlan> boards{};
    bool appSpeaks = true;
    std::vector<uint64_t> confirmAtMs{};
    uint64_t endMs = 150000;
    std::vector<std::string> results{};
    std::vector<uint32_t> burnsPerBoard{};
    std::optional<PortNoticeKind> notice{};          // a notice the port must have given
    std::optional<BoardInPlace> killedDuringBurn{};  // what a killed station left on disk
    std::vector<uint64_t> units{};                   // when not 1000, 1001, ...
    std::optional<PortNoticeKind> neverNotice{};     // a notice that would be wrong here
    std::vector<std::size_t> boardOfRecord{};        // when not the record's own index
    // The sequence number of a record the killed station had logged (0: an empty log).
    uint64_t loggedBefore = 0;
    std::vector<uint32_t> statuses{};  // of the records, when given
    std::vector<bool> portWentAway{};  // of the records, when given
    bool pulledPortFails = false;      // see Fixture
    bool classic = true;               // false: through the boot stage, the flash read back
    bool tellsDeviceIdentity = false;  // see Fixture
    uint64_t stopAtMs = 0;             // the station is stopped then (Ctrl-C), amid a burn
  } cases[] = {
      {.name = "a modem line",
       .signal = dsr,
       .boards = threeBoards,
       .results = {"pass", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1}},
      {.name = "the port",
       .signal = port,
       .boards = threeBoards,
       .results = {"pass", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1}},
      {.name = "the port, each board through the boot stage and read back",
       .signal = port,
       .boards = threeBoards,
       .results = {"pass", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1},
       .classic = false},
      // A confirmation while a board burns (at 4 s) starts nothing: it was not waited for.
      {.name = "the operator",
       .signal = operatorConfirms,
       .boards = threeBoards,
       .confirmAtMs = {2000, 4000, 46000, 86000},
       .results = {"pass", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1}},
      {.name = "the chip's own traffic",
       .signal = chip,
       .boards = threeBoards,
       .results = {"pass", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1}},
      // Silent firmware left in place: it must never be taken for a board that left.
      {.name = "silent firmware left in place",
       .signal = chip,
       .boards = {{1000, 0}},
       .appSpeaks = false,
       .endMs = 200000,
       .results = {"pass"},
       .burnsPerBoard = {1},
       .notice = PortNoticeKind::kNoSignOfLeaving},
      {.name = "three failing boards in a row stop the port",
       .signal = dsr,
       .boards =
           {{1000, 40000, true}, {45000, 80000, true}, {85000, 120000, true}, {125000, 160000}},
       .endMs = 200000,
       .results = {"fail", "fail", "fail"},
       .burnsPerBoard = {1, 1, 1, 0}},
      // The board in place when the station was killed is recorded, and never burned again,
      // though the killed station named the port \\.\com7 and this one names it COM7.
      {.name = "restarted after a kill during a burn",
       .signal = dsr,
       .boards = {{0, 20000}, {25000, 60000}},
       .endMs = 100000,
       .results = {"interrupted", "pass"},
       .burnsPerBoard = {0, 1},
       .killedDuringBurn =
           BoardInPlace{std::nullopt, "2026-12-08T19:00:00.000Z", "fixture", true, 999},
       .units = {999, 1000},
       .loggedBefore = 41,
       .statuses = {0, 0}},
      // With the chip signal a board that did not pass is let go once the line is quiet: a
      // failed board, silent in its loader, never stalls the port, and the next board answers.
      {.name = "the chip signal: a failing board, then two good ones",
       .signal = chip,
       .boards = {{1000, 40000, true}, {45000, 80000}, {85000, 120000}},
       .appSpeaks = true,
       .endMs = 150000,
       .results = {"fail", "pass", "pass"},
       .burnsPerBoard = {1, 1, 1},
       .neverNotice = PortNoticeKind::kNoSignOfLeaving},
      // Pulled while its loader goes in (before the loader ran, so the fixture counts no burn):
      // recorded as failed, and the next board is burned.
      {.name = "the chip signal: a board pulled mid-burn",
       .signal = chip,
       .boards = {{1000, 5000}, {12000, 50000}},
       .appSpeaks = true,
       .endMs = 80000,
       .results = {"fail", "pass"},
       .burnsPerBoard = {0, 1},
       .neverNotice = PortNoticeKind::kNoSignOfLeaving},
      // A burn cut by a kill: the restarted station records it, then burns the board that
      // answers, the cut one first (still in place), then the next.
      {.name = "the chip signal: restarted after a kill during a burn",
       .signal = chip,
       .boards = {{0, 20000}, {25000, 60000}},
       .appSpeaks = true,
       .endMs = 100000,
       .results = {"interrupted", "pass", "pass"},
       .burnsPerBoard = {1, 1},
       .killedDuringBurn =
           BoardInPlace{std::nullopt, "2026-12-08T19:00:00.000Z", "fixture", true, 999},
       .units = {999, 1000, 1001},
       .neverNotice = PortNoticeKind::kNoSignOfLeaving,
       .boardOfRecord = {0, 0, 1}},
      // A failed board still in place and answering is tried again, and counts.
      {.name = "the chip signal: three failures in a row stop the port",
       .signal = chip,
       .boards = {{1000, 40000, true}, {45000, 80000, true}, {85000, 120000, true}, {125000, 0}},
       .appSpeaks = true,
       .endMs = 200000,
       .results = {"fail", "fail", "fail"},
       .burnsPerBoard = {1, 1, 1, 0}},
      // A passed board held by the ledger of a killed station must be seen to leave.
      {.name = "the chip signal: restarted with a passed board in place",
       .signal = chip,
       .boards = {{0, 20000}, {25000, 60000}},
       .appSpeaks = true,
       .endMs = 100000,
       .results = {"pass"},
       .burnsPerBoard = {0, 1},
       .killedDuringBurn =
           BoardInPlace{UnitResult::kPass, "2026-12-08T19:00:00.000Z", "fixture", true, 999},
       .boardOfRecord = {1}},
      // Stopped amid a burn: interrupted, which no step failed, as the kill above.
      {.name = "stopped during a burn",
       .signal = dsr,
       .boards = {{1000, 0}},
       .endMs = 20000,
       .results = {"interrupted"},
       .burnsPerBoard = {0},
       .statuses = {0},
       .portWentAway = {false},
       .stopAtMs = 3000},
      // A board pulled amid its burn whose failure is told only once the next board is in
      // place under the same port name: that next board is burned, not waited for to leave.
      // The boot ROM's reads give up at the first silence, before the port's going shows.
      {.name = "a board pulled amid the loader's download, its port gone",
       .signal = port,
       .boards = {{1000, 5000}, {5500, 60000}},
       .endMs = 80000,
       .results = {"fail", "pass"},
       .burnsPerBoard = {0, 1},
       .statuses = {0xA0006, 0},
       .portWentAway = {true, false},
       .pulledPortFails = true},
      {.name = "a board pulled amid its burn, its port only quiet, another device in its place",
       .signal = port,
       .boards = {{1000, 5000}, {5500, 60000}},
       .endMs = 80000,
       .results = {"fail", "pass"},
       .burnsPerBoard = {0, 1},
       .statuses = {0xA0006, 0},
       .portWentAway = {false, false},
       .tellsDeviceIdentity = true},
      // The board burned before a kill was changed for the next while the station was down.
      {.name = "restarted with another board in place of the one burned",
       .signal = port,
       .boards = {{0, 40000}},
       .endMs = 60000,
       .results = {"interrupted", "pass"},
       .burnsPerBoard = {1},
       .killedDuringBurn =
           BoardInPlace{std::nullopt, "2026-12-08T19:00:00.000Z", "COM7", true, 999, "board 7"},
       .units = {999, 1000},
       .statuses = {0, 0},
       .portWentAway = {false, false},
       .tellsDeviceIdentity = true},
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
    setup.classic = c.classic;
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
    if (c.killedDuringBurn && c.killedDuringBurn->result == UnitResult::kPass) {
      fixture.boards_.front().burnEndedMs = 1;  // burned by the killed station: it speaks
    }
    fixture.pulledPortFails = c.pulledPortFails;
    fixture.tellsDeviceIdentity = c.tellsDeviceIdentity;
    StationWorld world = fixture.World();
    OperatorDesk desk(1);
    BoardBudget budget(0);
    std::atomic<uint64_t> sequence{log->LastSequence()};
    StationShared shared{&setup,      &world,       &fixture, &desk,     log.get(),
                         units.get(), ledger.get(), &budget,  &sequence, {}};
    StationPort station(0, shared);
    shared.stopStation = [&](const PortStop& reason) { station.Stop(reason); };
    fixture.confirmAtMs = c.confirmAtMs;
    fixture.endMs = c.endMs;
    fixture.confirm = [&desk] { desk.Confirm("", {"COM7"}); };
    fixture.stop = [&] { station.Stop(PortStop{.kind = PortStopKind::kInterrupted}); };
    if (c.stopAtMs != 0) {
      fixture.confirmAtMs = {c.stopAtMs};
      fixture.confirm = [&station] { station.Stop(PortStop{.kind = PortStopKind::kInterrupted}); };
    }
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
      const std::size_t board = c.boardOfRecord.empty() ? i : c.boardOfRecord[i];
      if (i < c.results.size() && c.results[i] == "pass" && board < fixture.boards_.size()) {
        const auto& flash = fixture.boards_[board].flash;
        ASSERT_GE(flash.size(), imageBytes.size());
        EXPECT_EQ(LittleEndianAt(flash, 0x100), fixture.records[i].unit);
        auto expected = imageBytes;
        std::copy_n(flash.begin() + 0x100, 4, expected.begin() + 0x100);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
        // The log holds what the unit's flash read back as: the image with its own number.
        EXPECT_EQ(fixture.records[i].readBack,
                  c.classic ? ReadBack::kNotAsked : ReadBack::kMatched);
        EXPECT_EQ(fixture.records[i].flashCrc,
                  c.classic ? std::nullopt
                            : std::optional<uint32_t>(Crc32(expected.data(), expected.size())));
      }
    }
    const auto burned = std::count_if(fixture.records.begin(), fixture.records.end(),
                                      [](const UnitRecord& r) { return !r.started.empty(); });
    const bool cutBoardRecorded = c.killedDuringBurn && !c.killedDuringBurn->result;
    EXPECT_EQ(units->Next(), 1000 + static_cast<uint64_t>(burned) - (cutBoardRecorded ? 1 : 0));
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
    const auto told = [&](std::optional<PortNoticeKind> kind) {
      return std::any_of(fixture.notices.begin(), fixture.notices.end(),
                         [&](const PortNotice& n) { return n.kind == kind; });
    };
    if (c.notice) {
      EXPECT_TRUE(told(c.notice));
    }
    if (c.neverNotice) {
      EXPECT_FALSE(told(c.neverNotice));
    }
    const PortStop stop = station.StopReason();
    if (c.results.size() == 3 && c.results.back() == "fail") {
      EXPECT_EQ(stop.kind, PortStopKind::kFailuresInRow);
      EXPECT_EQ(stop.count, 3U);
      EXPECT_EQ(stop.lastStatus, fixture.records.back().status);
    } else {
      EXPECT_EQ(stop.kind, PortStopKind::kInterrupted);
    }
  }
}

}  // namespace
}  // namespace tarvok
