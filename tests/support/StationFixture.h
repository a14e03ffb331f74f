// A fixture for a station port's tests, in virtual time: boards arrive and leave on a
// timeline, each is a simulated chip behind the fake serial device, with a DSR line that follows
// the board, a port that may come and go with it, and the operator's scripted confirmations.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/Chip.h"
#include "station/core/StationObserver.h"
#include "station/core/StationSetup.h"
#include "tests/support/FakeSerialDevice.h"

namespace tarvok::testing {

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
    world.deviceIdentity = [this](const std::string&) {
      const Board* board = tellsDeviceIdentity ? BoardAt(Now()) : nullptr;
      return board != nullptr ? "board " + std::to_string(board - boards_.data()) : "";
    };
    return world;
  }

  // With a port per board: whether the machine tells one board's port from the next one's
  // under the same name.
  bool tellsDeviceIdentity = false;
  // With a port per board: whether a board taken out takes its port with it at once, so that
  // the port's calls fail as on an unplugged adapter (but for reads, which some drivers keep
  // answering with nothing), rather than only going quiet.
  bool pulledPortFails = false;

  // Scripted operator confirmations, and the end of the test.
  std::vector<uint64_t> confirmAtMs;
  uint64_t endMs = 0;
  std::function<void()> confirm;  // the operator confirms the board in place
  // Stops the port (or the station) once the test's time is over.
  std::function<void()> stop;

  struct Board {
    BoardPlan plan;
    std::unique_ptr<sim::Chip> chip;
    uint32_t burns;  // boot ROM woken and the loader started
    std::vector<uint8_t> flash;
    uint64_t burnEndedMs;
  };
  std::vector<Board> boards_;
  std::vector<PortNotice> notices;
  std::vector<UnitRecord> records;

  void OnPortNotice(std::size_t, const PortNotice& notice) override { notices.push_back(notice); }
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
      stop();
    }
  }

  // The operator presses Enter when the timeline says, also while a board burns.
  void Confirm(uint64_t ms) {
    while (!confirmAtMs.empty() && confirmAtMs.front() <= ms) {
      confirmAtMs.erase(confirmAtMs.begin());
      confirm();
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
      stop();  // the chip signal's wake-ups open the port again and again
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
    // A port per board is that board's own: another board put in its place later has another.
    Board* const owner = portComesWithBoard_ ? BoardAt(Now()) : nullptr;
    device->modemStatus = [this, raw](uint32_t& lines) {
      lines = BoardAt(raw->NowMs()) != nullptr ? kModemDsr : 0;
      return true;
    };
    device->SetResponder([this, owner](FakeSerialDevice& d, std::span<const uint8_t> bytes) {
      Answer(d, bytes, owner);
    });
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

  void Answer(FakeSerialDevice& device, std::span<const uint8_t> bytes, Board* owner) {
    Confirm(device.NowMs());
    Board* board = BoardAt(device.NowMs());
    if (owner != nullptr && board != owner) {
      board = nullptr;  // its board has left: whatever is in place now is not on this port
      if (pulledPortFails) {
        for (FailCount* calls : {&device.failWrite, &device.failClearError, &device.failPurge,
                                 &device.failGetLine, &device.failSetLine}) {
          calls->remaining = FailCount::kAlways;
        }
      }
    }
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

}  // namespace tarvok::testing
