#include "station/core/BoardWatch.h"

#include <optional>

namespace tarvok {
namespace {

constexpr uint32_t kPresencePollMs = 200;
constexpr uint32_t kLinePollMs = 50;
constexpr uint32_t kReopenPauseMs = 1000;
// A port that appeared is given this long to settle (drivers, permissions) before it is opened.
constexpr uint64_t kPortSettleMs = 500;
// A modem line must read the same this many times in a row to count: contacts bounce.
constexpr int kSteadyReadings = 3;
// A burned board whose line never goes quiet this long is said to be still there.
constexpr uint64_t kStillTalkingMs = 60000;

class WatchBase : public BoardWatch {
 public:
  explicit WatchBase(const WatchContext& context) : c_(context) {}

 protected:
  bool Stopped() const { return c_.stop->load(std::memory_order_relaxed); }
  void Sleep(uint32_t ms) const { c_.world->sleep(ms); }
  uint64_t Now() const { return c_.world->nowMs(); }
  const std::string& Name() const { return c_.setup->portName; }
  void Notice(const PortNotice& notice) const { c_.observer->OnPortNotice(c_.port, notice); }
  void Notice(PortNoticeKind kind) const {
    PortNotice notice;
    notice.kind = kind;
    notice.modemLine = c_.setup->signal.modemLine;
    Notice(notice);
  }
  // Tells people, once, that the port has waited since `start` to see the board leave.
  void TellIfOverdue(uint64_t start, bool& told) const {
    if (told || Now() - start < kNoSignOfLeavingMs) {
      return;
    }
    PortNotice notice;
    notice.kind = PortNoticeKind::kLeaveOverdue;
    notice.waitedMs = Now() - start;
    Notice(notice);
    told = true;
  }
  // The port's device, once it is on the machine; nullopt when stopped first.
  std::optional<std::string> FindDevice() const {
    bool told = false;
    std::string device;
    while (!c_.world->findPort(Name(), device)) {
      if (!told) {
        Notice(PortNoticeKind::kPortMissing);
        told = true;
      }
      if (Stopped()) {
        return std::nullopt;
      }
      Sleep(kPresencePollMs);
    }
    return device;
  }

  WatchContext c_;
};

// A board with its own USB adapter: the port is there while the board is.
class PortWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  bool WaitForArrival() override {
    bool seen = false;
    uint64_t seenSince = 0;
    std::string device;
    while (!Stopped()) {
      if (!c_.world->findPort(Name(), device)) {
        seen = false;
      } else if (!seen) {
        seen = true;
        seenSince = Now();
      } else if (Now() - seenSince >= kPortSettleMs) {
        return true;
      }
      Sleep(kPresencePollMs);
    }
    return false;
  }
  bool WaitForLeave(std::optional<UnitResult> /*board*/) override {
    const uint64_t start = Now();
    bool told = false;
    std::string device;
    while (!Stopped()) {
      if (!c_.world->findPort(Name(), device)) {
        return true;
      }
      TellIfOverdue(start, told);
      Sleep(kPresencePollMs);
    }
    return false;
  }
};

// The fixture's board-present contact on a modem-status input.
class ModemLineWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  bool WaitForArrival() override { return WaitForLine(true); }
  bool WaitForLeave(std::optional<UnitResult> /*board*/) override { return WaitForLine(false); }

 private:
  bool WaitForLine(bool asserted) {
    const uint64_t start = Now();
    bool toldOverdue = asserted;  // only a leaving is overdue
    bool toldOpen = false;
    bool toldLines = false;
    while (!Stopped()) {
      const std::optional<std::string> device = FindDevice();
      if (!device) {
        return false;
      }
      OpenResult opened = c_.world->open(*device);
      if (!opened.device) {
        if (!toldOpen) {
          PortNotice notice;
          notice.kind = PortNoticeKind::kCannotWatchLine;
          notice.modemLine = c_.setup->signal.modemLine;
          notice.openReason = opened.reason;
          Notice(notice);
          toldOpen = true;
        }
        Sleep(kReopenPauseMs);
        continue;
      }
      int steady = 0;
      while (!Stopped()) {
        uint32_t lines = 0;
        if (!opened.device->GetModemStatus(lines)) {
          if (!toldLines) {
            Notice(PortNoticeKind::kLineStatusUnreported);
            toldLines = true;
          }
          break;
        }
        const bool isAsserted = (lines & c_.setup->signal.modemLine) != 0;
        steady = isAsserted == asserted ? steady + 1 : 0;
        if (steady >= kSteadyReadings) {
          opened.device->Close();
          return true;
        }
        TellIfOverdue(start, toldOverdue);
        Sleep(kLinePollMs);
      }
      opened.device->Close();
      if (!Stopped()) {
        Sleep(kReopenPauseMs);
      }
    }
    return false;
  }
};

// The operator says when the next board is in place; that also says the last one left.
class OperatorWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  bool WaitForArrival() override {
    c_.desk->BeginWaiting(c_.port);
    while (!Stopped()) {
      if (c_.desk->TakeConfirmation(c_.port)) {
        c_.desk->EndWaiting(c_.port);
        return true;
      }
      Sleep(kLinePollMs);
    }
    c_.desk->EndWaiting(c_.port);
    return false;
  }
  // The operator's next confirmation says the board changed.
  bool WaitsForLeave() const override { return false; }
  bool WaitForLeave(std::optional<UnitResult> /*board*/) override { return !Stopped(); }
};

// The chip itself: a board is there when its boot ROM answers the burn's wake-up. A passed
// board has left once the line has been quiet for a while after its firmware last spoke; a
// board whose firmware never speaks cannot be seen to leave, and its silence is never taken
// for leaving. A board that did not pass (failed, pulled, cut) is let go once the line has been
// quiet that long: the next board is burned when it answers, this one too if still in place.
class ChipWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  bool SilentRomMeansNoBoard() const override { return true; }
  bool WaitForArrival() override { return !Stopped(); }
  bool LetsGoWhenQuiet(std::optional<UnitResult> board) const override {
    return board != UnitResult::kPass;
  }
  bool WaitForLeave(std::optional<UnitResult> board) override {
    Listening state;
    state.start = Now();
    state.quietLetsGo = LetsGoWhenQuiet(board);
    bool gone = false;
    while (!gone && !Stopped()) {
      const std::optional<std::string> device = FindDevice();
      if (!device) {
        break;
      }
      PortState port;
      OpenSelectedPort(*device, *c_.line, port, c_.world->open);
      if (port.portOpen == 0) {
        Sleep(kReopenPauseMs);
        continue;
      }
      // A port that failed under us is opened again, remembering what was heard.
      gone = ListenUntilGone(*port.portHandle, state);
      CloseSelectedPort(port);
      if (!gone && !Stopped()) {
        Sleep(kReopenPauseMs);
      }
    }
    if (state.deskWaits) {
      c_.desk->EndWaiting(c_.port);
    }
    return gone;
  }

 private:
  struct Listening {
    uint64_t start = 0;
    bool quietLetsGo = false;
    bool heardAny = false;
    uint64_t lastHeard = 0;
    bool toldOverdue = false;
    bool deskWaits = false;  // the operator may confirm that the board has left
  };

  // True once the board may be taken as gone; false when the port failed or was stopped.
  bool ListenUntilGone(SerialDevice& device, Listening& state) {
    while (!Stopped()) {
      bool heard = false;
      if (!Listen(device, heard)) {
        return false;
      }
      const uint64_t now = Now();
      if (heard) {
        state.heardAny = true;
        state.lastHeard = now;
      }
      const uint64_t quietSince = state.heardAny ? state.lastHeard : state.start;
      if ((state.heardAny || state.quietLetsGo) &&
          now - quietSince >= c_.setup->signal.leaveSilenceMs) {
        return true;
      }
      Tell(state, now - state.start);
      if (state.deskWaits && c_.desk->TakeConfirmation(c_.port)) {
        return true;
      }
      Sleep(kLinePollMs);
    }
    return false;
  }

  // What people are told after `waited` without seeing the board leave: for a passed board
  // that cannot be heard leaving, that the operator may confirm it; otherwise, once, what to
  // do, when the board is overdue even counting the quiet that its leaving takes.
  void Tell(Listening& state, uint64_t waited) {
    const bool silentPass = !state.heardAny && !state.quietLetsGo && waited >= kNoSignOfLeavingMs;
    const bool stillTalking = state.heardAny && waited >= kStillTalkingMs;
    if ((silentPass || stillTalking) && !state.deskWaits) {
      PortNotice notice;
      notice.kind = silentPass ? PortNoticeKind::kNoSignOfLeaving : PortNoticeKind::kLineNotQuiet;
      notice.waitedMs = waited;
      notice.operatorConfirms = true;
      state.deskWaits = true;
      state.toldOverdue = true;
      c_.desk->BeginWaiting(c_.port);
      Notice(notice);
      return;
    }
    if (!state.toldOverdue && waited >= kNoSignOfLeavingMs + c_.setup->signal.leaveSilenceMs) {
      PortNotice notice;
      notice.kind = PortNoticeKind::kLeaveOverdue;
      notice.waitedMs = waited;
      state.toldOverdue = true;
      Notice(notice);
    }
  }

  // Takes whatever has arrived; `heard` when anything had. False when the port failed.
  static bool Listen(SerialDevice& device, bool& heard) {
    CommStatus status;
    if (!device.ClearError(status)) {
      return false;
    }
    heard = status.inputCount > 0 || status.errors != 0;
    uint8_t buffer[256];
    uint32_t left = status.inputCount;
    while (left > 0) {
      uint32_t received = 0;
      const uint32_t want = left < sizeof buffer ? left : sizeof buffer;
      if (!device.Read(buffer, want, received)) {
        return false;
      }
      if (received == 0) {
        break;
      }
      left -= received < left ? received : left;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<BoardWatch> MakeBoardWatch(const WatchContext& context) {
  switch (context.setup->signal.kind) {
    case BoardSignal::kPort:
      return std::make_unique<PortWatch>(context);
    case BoardSignal::kModemLine:
      return std::make_unique<ModemLineWatch>(context);
    case BoardSignal::kChip:
      return std::make_unique<ChipWatch>(context);
    case BoardSignal::kOperator:
      break;
  }
  return std::make_unique<OperatorWatch>(context);
}

}  // namespace tarvok
