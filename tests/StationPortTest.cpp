// One station port through whole boards' lives, in virtual time: boards arrive and leave on a
// timeline, each is a simulated chip behind the fake serial device, and the port must burn
// every board exactly once, record it, and never take a board that did not leave for a new
// one.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/station/StationPort.h"
#include "sim/Chip.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/ScratchFolder.h"

namespace tarvok {
namespace {

using testing::FakeSerialDevice;

struct BoardPlan {
  uint64_t arriveMs;
  uint64_t leaveMs;  // 0: never leaves
  bool failsBurn = false;
};

// A fixture on one port: the boards of the timeline, one at a time, and the clock.
class Fixture : public StationObserver {
 public:
  Fixture(std::vector<BoardPlan> plans, bool appSpeaks, bool portComesWithBoard)
      : appSpeaks_(appSpeaks), portComesWithBoard_(portComesWithBoard) {
    for (const BoardPlan& plan : plans) {
      boards_.push_back({plan, nullptr, 0, {}, 0});
    }
  }

  StationWorld World() {
    StationWorld world;
    world.open = [this](const std::string&) { return Open(); };
    world.findPort = [this](const std::string& name, std::string& device) {
      device = name;
      return !portComesWithBoard_ || BoardAt(Now()) != nullptr;
    };
    world.sleep = [this](uint32_t ms) { Sleep(ms); };
    world.nowMs = [this] { return Now(); };
    return world;
  }

  // Scripted operator confirmations, and the end of the test.
  std::vector<uint64_t> confirmAtMs;
  uint64_t endMs = 0;
  OperatorDesk* desk = nullptr;
  StationPort* port = nullptr;

  struct Board {
    BoardPlan plan;
    std::unique_ptr<sim::Chip> chip;
    uint32_t burns;  // boot ROM woken and the loader started
    std::vector<uint8_t> flash;
    uint64_t burnEndedMs;
  };
  std::vector<Board> boards_;
  std::vector<std::string> notices;
  std::vector<UnitRecord> records;

  void OnPortNotice(std::size_t, const std::string& text) override { notices.push_back(text); }
  void OnBoardRecorded(std::size_t, const UnitRecord& record, const PortCounts&) override {
    records.push_back(record);
  }

 private:
  uint64_t Now() const { return open_ != nullptr ? std::max(nowMs_, open_->NowMs()) : nowMs_; }

  void Sleep(uint32_t ms) {
    nowMs_ = Now() + ms;
    if (open_ != nullptr) {
      open_->SetNowUs(nowMs_ * 1000);
    }
    Confirm(nowMs_);
    if (nowMs_ >= endMs) {
      port->Stop("the test is over");
    }
  }

  // The operator presses Enter when the timeline says, also while a board burns.
  void Confirm(uint64_t ms) {
    while (!confirmAtMs.empty() && confirmAtMs.front() <= ms) {
      confirmAtMs.erase(confirmAtMs.begin());
      desk->Confirm("", {"fixture"});
    }
  }

  Board* BoardAt(uint64_t ms) {
    for (Board& board : boards_) {
      if (board.plan.arriveMs <= ms && (board.plan.leaveMs == 0 || ms < board.plan.leaveMs)) {
        if (!board.chip) {
          PowerUp(board);
        }
        return &board;
      }
    }
    return nullptr;
  }

  // A board comes up running its application, which the boot ROM's sentence interrupts.
  void PowerUp(Board& board) {
    sim::ChipOptions options;
    options.flashBytes = 64 * 1024;
    if (board.plan.failsBurn) {
      options.loader.replyCodeBlock = 0;
      options.loader.replyCode = 6;
    }
    board.chip = std::make_unique<sim::Chip>(options);
  }

  OpenResult Open() {
    if (Now() >= endMs) {
      port->Stop("the test is over");  // the chip signal's wake-ups open the port again and again
    }
    OpenResult result;
    if (portComesWithBoard_ && BoardAt(Now()) == nullptr) {
      result.failure = OpenFailure::kMissing;
      result.reason = "no such device";
      return result;
    }
    auto device = std::make_unique<FakeSerialDevice>();
    device->SetNowUs(Now() * 1000);
    FakeSerialDevice* raw = device.get();
    device->modemStatus = [this, raw](uint32_t& lines) {
      lines = BoardAt(raw->NowMs()) != nullptr ? kModemDsr : 0;
      return true;
    };
    device->SetResponder(
        [this](FakeSerialDevice& d, std::span<const uint8_t> bytes) { Answer(d, bytes); });
    device->onDestroy = [this](const FakeSerialDevice& gone) {
      nowMs_ = std::max(nowMs_, gone.NowMs());
      open_ = nullptr;
    };
    if (Board* board = BoardAt(Now()); board != nullptr && appSpeaks_ && board->burnEndedMs != 0) {
      Chatter(*device, *board);
    }
    open_ = raw;
    result.device = std::move(device);
    return result;
  }

  // A burned board's firmware speaks once a second until the board leaves.
  void Chatter(FakeSerialDevice& device, const Board& board) {
    const std::string sentence = "$GPGGA,,,,,,0,00,,,M,,M,,*66\r\n";
    const uint64_t until = board.plan.leaveMs == 0 ? Now() + 600'000 : board.plan.leaveMs;
    for (uint64_t at = std::max(Now(), board.burnEndedMs) + 1000; at < until; at += 1000) {
      device.PushInput(
          std::span(reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size()),
          (at - Now()) * 1000);
    }
  }

  void Answer(FakeSerialDevice& device, std::span<const uint8_t> bytes) {
    Confirm(device.NowMs());
    Board* board = BoardAt(device.NowMs());
    if (board == nullptr) {
      return;  // the line is dead
    }
    sim::Chip& chip = *board->chip;
    std::vector<uint8_t> answer;
    for (const uint8_t byte : bytes) {
      const bool wasInLoader = chip.CurrentMode() == sim::Chip::Mode::kLoader;
      chip.Receive(device.BaudRate() == chip.Rate() ? byte : sim::Garble(byte), answer);
      if (!wasInLoader && chip.CurrentMode() == sim::Chip::Mode::kLoader) {
        ++board->burns;
      }
    }
    if (device.BaudRate() != chip.Rate()) {
      std::transform(answer.begin(), answer.end(), answer.begin(), sim::Garble);
    }
    device.PushInput(answer);
    chip.SettleRate();
    if (chip.BurnEnded()) {
      // The board restarts into its new firmware, which a boot ROM sentence would interrupt
      // again: a second burn of this board would show.
      const auto& cells = chip.FlashMemory().Cells();
      board->flash.assign(cells.begin(), cells.end());
      board->burnEndedMs = device.NowMs();
      PowerUp(*board);
    }
  }

  const bool appSpeaks_;
  const bool portComesWithBoard_;
  uint64_t nowMs_ = 0;
  FakeSerialDevice* open_ = nullptr;
};

uint32_t LittleEndianAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
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
      // The board in place when the station was killed is recorded, and never burned again.
      {"restarted after a kill during a burn",
       dsr,
       {{0, 20000}, {25000, 60000}},
       true,
       {},
       100000,
       {"interrupted", "pass"},
       {0, 1},
       "",
       BoardInPlace{false, "2026-12-08T19:00:00.000Z", "fixture", true, 999},
       {999, 1000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const auto imageBytes = testing::ImageBytes(8 * 1024);
    StationSetup setup;
    setup.name = "bench";
    setup.imagePath = "app.bin";
    setup.image = testing::MakeImage(imageBytes);
    setup.ports = {{"fixture", c.signal}};
    setup.units = UnitNumberPlan{0x100, 1000, 1, UnitEncoding::kLittleEndian32, 4};
    std::string problem;
    const auto log = StationLog::Open(folder.PathOf("log.jsonl"), problem);
    const auto units = UnitNumberStore::Open(folder.PathOf("units"), *setup.units, problem);
    const auto ledger = BoardLedger::Open(folder.PathOf("in-place"), problem);
    ASSERT_TRUE(log && units && ledger) << problem;
    if (c.killedDuringBurn) {
      ASSERT_TRUE(ledger->Set("fixture", *c.killedDuringBurn, problem)) << problem;
    }

    Fixture fixture(c.boards, c.appSpeaks, c.signal.kind == BoardSignal::kPort);
    StationWorld world = fixture.World();
    OperatorDesk desk(1);
    BoardBudget budget(0);
    std::atomic<uint64_t> sequence{0};
    StationShared shared{&setup,      &world,       &fixture, &desk,     log.get(),
                         units.get(), ledger.get(), &budget,  &sequence, {}};
    StationPort station(0, shared);
    shared.stopStation = [&](const std::string& reason) { station.Stop(reason); };
    fixture.confirmAtMs = c.confirmAtMs;
    fixture.endMs = c.endMs;
    fixture.desk = &desk;
    fixture.port = &station;
    station.Run();

    std::vector<std::string> results;
    for (const UnitRecord& record : fixture.records) {
      results.push_back(record.result);
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
    EXPECT_EQ(ledger->Find("fixture").has_value(), c.boards.back().leaveMs == 0 ||
                                                       c.boards.back().leaveMs > c.endMs ||
                                                       c.results.back() == "fail");
    // The shared image stays as it was read.
    EXPECT_TRUE(std::equal(imageBytes.begin(), imageBytes.end(), setup.image->data.get()));
    // One whole line per record.
    std::ifstream lines(folder.PathOf("log.jsonl"));
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      EXPECT_TRUE(nlohmann::json::accept(line)) << line;
    }
    EXPECT_EQ(count, fixture.records.size());
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
