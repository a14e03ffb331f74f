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

const char* ModemLineName(uint32_t line) {
  switch (line) {
    case kModemCts:
      return "CTS";
    case kModemDcd:
      return "DCD";
    case kModemRing:
      return "RI";
    default:
      return "DSR";
  }
}

class WatchBase : public BoardWatch {
 public:
  explicit WatchBase(const WatchContext& context) : c_(context) {}

 protected:
  bool Stopped() const { return c_.stop->load(std::memory_order_relaxed); }
  void Sleep(uint32_t ms) const { c_.world->sleep(ms); }
  uint64_t Now() const { return c_.world->nowMs(); }
  const std::string& Name() const { return c_.setup->portName; }
  void Notice(const std::string& text) const { c_.observer->OnPortNotice(c_.port, text); }
  // The port's device, once it is on the machine; nullopt when stopped first.
  std::optional<std::string> FindDevice() const {
    bool told = false;
    std::string device;
    while (!c_.world->findPort(Name(), device)) {
      if (!told) {
        Notice("no port " + Name() + " on this machine; waiting for it");
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
  std::string WhatArrivalIs() const override { return "waiting for " + Name() + " to appear"; }
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
  bool WaitForLeave() override {
    std::string device;
    while (!Stopped()) {
      if (!c_.world->findPort(Name(), device)) {
        return true;
      }
      Sleep(kPresencePollMs);
    }
    return false;
  }
};

// The fixture's board-present contact on a modem-status input.
class ModemLineWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  std::string WhatArrivalIs() const override {
    return std::string("waiting for ") + ModemLineName(c_.setup->signal.modemLine);
  }
  bool WaitForArrival() override { return WaitForLine(true); }
  bool WaitForLeave() override { return WaitForLine(false); }

 private:
  bool WaitForLine(bool asserted) {
    const char* line = ModemLineName(c_.setup->signal.modemLine);
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
          Notice("cannot open " + Name() + " to watch " + line + ": " + opened.reason +
                 "; trying again");
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
            Notice(Name() + " does not report its modem lines, so " + line +
                   " cannot be watched; trying again");
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
  std::string WhatArrivalIs() const override {
    return "press Enter (or " + std::to_string(c_.port + 1) + " Enter) when the board is in place";
  }
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
  // The operator's next Enter says the board changed.
  std::string WhatLeavingIs() const override { return ""; }
  bool WaitForLeave() override { return !Stopped(); }
};

// The chip itself: a board is there when its boot ROM answers the burn's wake-up, and has
// left once the line has been quiet for a while after its firmware last spoke. A board whose
// firmware never speaks cannot be seen to leave: its silence is never taken for leaving.
class ChipWatch : public WatchBase {
 public:
  using WatchBase::WatchBase;
  std::string WhatArrivalIs() const override { return "waking the boot ROM until a board answers"; }
  bool SilentRomMeansNoBoard() const override { return true; }
  bool WaitForArrival() override { return !Stopped(); }
  bool WaitForLeave() override {
    const uint64_t start = Now();
    bool heardAny = false;
    uint64_t lastHeard = 0;
    bool told = false;
    while (!Stopped()) {
      const std::optional<std::string> device = FindDevice();
      if (!device) {
        return false;
      }
      PortState port;
      OpenSelectedPort(*device, *c_.line, port, c_.world->open);
      if (port.portOpen == 0) {
        Sleep(kReopenPauseMs);
        continue;
      }
      while (!Stopped()) {
        bool heard = false;
        if (!Listen(*port.portHandle, heard)) {
          break;  // the port failed under us: open it again, remembering what was heard
        }
        if (heard) {
          heardAny = true;
          lastHeard = Now();
        }
        if (heardAny && Now() - lastHeard >= c_.setup->signal.leaveSilenceMs) {
          CloseSelectedPort(port);
          return true;
        }
        const bool silent = !heardAny && Now() - start >= kNoSignOfLeavingMs;
        const bool talking = heardAny && Now() - start >= kStillTalkingMs;
        if (silent || talking) {
          if (!told) {
            Notice(silent ? "no sign of the board leaving; with silent firmware choose --board "
                            "port, dsr, cts, dcd, ri or operator (Enter here confirms this "
                            "board has left)"
                          : "the line has not been quiet since the burn; if the next board is "
                            "already in place, the change was quicker than --leave-silence-ms "
                            "(Enter here confirms the burned board has left)");
            told = true;
            c_.desk->BeginWaiting(c_.port);
          }
          if (c_.desk->TakeConfirmation(c_.port)) {
            c_.desk->EndWaiting(c_.port);
            CloseSelectedPort(port);
            return true;
          }
        }
        Sleep(kLinePollMs);
      }
      CloseSelectedPort(port);
      if (!Stopped()) {
        Sleep(kReopenPauseMs);
      }
    }
    c_.desk->EndWaiting(c_.port);
    return false;
  }

 private:
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
