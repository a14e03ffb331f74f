#include "cli/StationCommand.h"

#include <algorithm>
#include <cstdio>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>
#include <thread>

#include "cli/BurnCommand.h"
#include "cli/BurnReport.h"
#include "cli/LatencyWarning.h"
#include "cli/StationRefusalText.h"
#include "station/config/OpenStation.h"
#include "station/core/Station.h"
#include "station/panel/StationPanelText.h"

namespace tarvok::cli {
namespace {

std::string PortColumn(const std::string& name) {
  return name.size() >= 14 ? name + " " : name + std::string(14 - name.size(), ' ');
}

std::string CountsText(const PortCounts& counts) {
  return "passed " + std::to_string(counts.passed) + ", failed " + std::to_string(counts.failed) +
         ", interrupted " + std::to_string(counts.interrupted);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

const char* LineName(uint32_t line) {
  return line == kModemCts ? "CTS" : line == kModemDcd ? "DCD" : line == kModemRing ? "RI" : "DSR";
}

const char* ResultCapitals(UnitResult result) {
  return result == UnitResult::kPass   ? "PASS"
         : result == UnitResult::kFail ? "FAIL"
                                       : "INTERRUPTED";
}

std::string ArrivalWords(std::size_t index, const StationPortSetup& port) {
  switch (port.signal.kind) {
    case BoardSignal::kPort:
      return "waiting for " + port.portName + " to appear";
    case BoardSignal::kModemLine:
      return std::string("waiting for ") + LineName(port.signal.modemLine);
    case BoardSignal::kOperator:
      return "press Enter (or " + std::to_string(index + 1) + " Enter) when the board is in place";
    case BoardSignal::kChip:
      return "waking the boot ROM until a board answers";
  }
  return "";
}

std::string LeaveWords(const PortPhaseReason& reason) {
  std::string text = reason.fromBeforeRestart
                         ? "waiting for the board burned before the station restarted to leave: "
                         : "";
  if (!reason.board) {
    text += "its burn was cut when the station stopped - take the board out";
  } else {
    text += std::string(ResultCapitals(*reason.board)) +
            (*reason.board == UnitResult::kPass ? " - remove the board" : " - take the board out");
  }
  if (reason.burnsAgainWhenQuiet) {
    return text + "; the next board is burned when it answers (this one again if left in place)";
  }
  if (reason.signal.kind == BoardSignal::kChip) {
    return text + "; it has left once the line has been quiet for --leave-silence-ms (" +
           std::to_string(reason.signal.leaveSilenceMs) + " ms)";
  }
  return text + "; the next board is burned once this one has left";
}

std::string LeaveOverdueWords(const StationPortSetup& port, uint64_t waitedMs) {
  const std::string text = "still waiting for the board to leave after " +
                           std::to_string(waitedMs / 1000) + " s: take it out";
  switch (port.signal.kind) {
    case BoardSignal::kPort:
      return text + " (" + port.portName + " must go away)";
    case BoardSignal::kModemLine:
      return text + " (" + LineName(port.signal.modemLine) + " must drop)";
    case BoardSignal::kChip:
      return text + "; it has left once the line has been quiet for --leave-silence-ms";
    case BoardSignal::kOperator:
      break;
  }
  return text;
}

// The terminal's own words for what the operator does at the keyboard; the rest as the windows
// say them.
std::string NoticeWords(const StationPortSetup& port, const PortNotice& notice) {
  switch (notice.kind) {
    case PortNoticeKind::kNoSignOfLeaving:
      return "no sign of the board leaving; with silent firmware choose --board port, dsr, cts, "
             "dcd, ri or operator (Enter here confirms this board has left)";
    case PortNoticeKind::kLineNotQuiet:
      return "the line has not been quiet since the burn; if the next board is already in "
             "place, the change was quicker than --leave-silence-ms (Enter here confirms the "
             "burned board has left)";
    case PortNoticeKind::kLeaveOverdue:
      return LeaveOverdueWords(port, notice.waitedMs);
    case PortNoticeKind::kAdapterLatency:
      return LatencyFindingText(port.portName, {notice.latencyTimerMs, notice.latencyLowered});
    case PortNoticeKind::kSlowNetwork:
      return SlowRoundTripText(port.portName, notice.roundTripMs, notice.burnRate);
    default:
      return NoticeText(port, notice);
  }
}

std::string StopWords(const PortStop& stop) {
  if (stop.kind == PortStopKind::kFailuresInRow) {
    return std::to_string(stop.count) + " boards failed in a row; the last: " + stop.lastMessage +
           ". Check the fixture and the port, then start the station again";
  }
  return StopText(stop);
}

// One line per event, readable from a distance: the port, then its state in capitals.
class StationPrinter : public StationObserver {
 public:
  StationPrinter(const StationSetup& setup, std::ostream& out) : setup_(setup), out_(out) {}

  void OnPortPhase(std::size_t port, PortPhase phase, const PortPhaseReason& reason) override {
    switch (phase) {
      case PortPhase::kWaitingForBoard:
        Print(port, "WAITING  " + ArrivalWords(port, setup_.ports[port]));
        break;
      case PortPhase::kBurning:
        Print(port, "BURNING");
        break;
      case PortPhase::kWaitingForLeave:
        Print(port, "WAITING  " + LeaveWords(reason));
        break;
      case PortPhase::kStopped:
        Print(port, "STOPPED  " + StopWords(reason.stop));
        break;
    }
  }
  void OnPortNotice(std::size_t port, const PortNotice& notice) override {
    Print(port, NoticeWords(setup_.ports[port], notice));
  }
  void OnBoardRecorded(std::size_t port, const UnitRecord& record,
                       const PortCounts& counts) override {
    std::string line = record.result == UnitResult::kPass   ? "PASS   "
                       : record.result == UnitResult::kFail ? "FAIL   "
                                                            : "INTERRUPTED ";
    if (record.hasUnit) {
      line += "unit " + std::to_string(record.unit) + "  ";
    }
    PortCounts total;
    {
      const std::lock_guard lock(mutex_);
      counts_[port] = counts;
      for (const auto& [_, each] : counts_) {
        total += each;
      }
    }
    line += Seconds(record.totalSeconds) + "  port: " + CountsText(counts) +
            "  station: " + CountsText(total);
    if (record.result != UnitResult::kPass) {
      line += "\n" + std::string(16, ' ') + record.message;
    }
    Print(port, line);
  }

 private:
  void Print(std::size_t port, const std::string& text) {
    const std::lock_guard lock(mutex_);
    out_ << PortColumn(setup_.ports[port].portName) << text << "\n" << std::flush;
  }

  const StationSetup& setup_;
  std::ostream& out_;
  std::mutex mutex_;
  std::map<std::size_t, PortCounts> counts_;
};

void PrintStart(const StationParts& plan, const StationOptions& options, std::ostream& out) {
  const StationSetup& setup = plan.setup;
  out << "station " << setup.name << ": " << setup.ports.size() << " port"
      << (setup.ports.size() == 1 ? "" : "s") << ", boards signalled by " << options.board << "\n";
  out << "image   " << setup.imagePath << ", " << setup.image->size << " bytes, SHA-256 "
      << setup.imageSha256 << "\n";
  out << "loader  " << (options.loader.empty() ? "built in" : options.loader) << ", SHA-256 "
      << setup.loaderSha256 << "\n";
  out << "log     " << plan.log->Path() << "\n";
  if (plan.units) {
    out << "units   next " << plan.units->Next() << ", step " << setup.units->step << ", "
        << UnitEncodingWord(*setup.units) << " at offset " << setup.units->offset << " (state "
        << plan.units->Path() << ")\n";
  }
  out << std::flush;
}

// Lines typed on the terminal confirm boards for ports that wait for the operator.
// The reader may still wait for a line when the station has ended: it shares the desk.
void StartOperatorReader(std::istream& in, std::shared_ptr<OperatorDesk> desk,
                         std::vector<std::string> names, std::ostream& err) {
  std::thread([&in, desk = std::move(desk), names = std::move(names), &err] {
    std::string line;
    while (std::getline(in, line)) {
      if (!desk->Confirm(line, names)) {
        err << "tarvok: no port " << line << " (type its number or name, or Enter for all)\n";
      }
    }
    err << "tarvok: warning: standard input has ended: no Enter can confirm a board from now "
           "on (ports that wait for one wait until the station is stopped)\n";
  }).detach();
}

nlohmann::json CountsJson(const PortCounts& counts) {
  return {
      {"passed", counts.passed}, {"failed", counts.failed}, {"interrupted", counts.interrupted}};
}

int Report(const Station& station, const StationParts& plan, const StationOptions& options,
           std::ostream& out, std::ostream& human) {
  nlohmann::json ports = nlohmann::json::array();
  human << "\n";
  for (std::size_t port = 0; port < station.PortCount(); ++port) {
    const PortCounts counts = station.Counts(port);
    human << PortColumn(station.PortName(port)) << CountsText(counts) << "\n";
    nlohmann::json entry = {{"port", station.PortName(port)}};
    entry.update(CountsJson(counts));
    entry["stopped"] = StopWords(station.PortStopReason(port));
    ports.push_back(entry);
  }
  const PortCounts total = station.Total();
  human << PortColumn("total") << CountsText(total) << "\n";
  const PortStop ended = station.EndReason();
  const std::string end = ended.kind == PortStopKind::kNone ? "" : StopWords(ended);
  if (!end.empty()) {
    human << "station ended: " << end << "\n";
  }
  const bool done = plan.setup.boardsToPass != 0 && total.passed >= plan.setup.boardsToPass;
  const int exitCode = station.Interrupted() ? kExitInterrupted
                       : done                ? kExitSuccess
                                             : kExitBurnFailed;
  if (options.json) {
    nlohmann::json report = {{"station", plan.setup.name},
                             {"result", station.Interrupted() ? "interrupted"
                                        : done                ? "done"
                                                              : "stopped"},
                             {"end", end},
                             {"log", plan.log->Path()},
                             {"image_sha256", plan.setup.imageSha256},
                             {"ports", ports},
                             {"total", CountsJson(total)}};
    out << JsonText(report) << "\n" << std::flush;
  }
  return exitCode;
}

}  // namespace

int RunStationCommand(const StationOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err, const std::atomic<bool>& stop) {
  StationParts plan;
  if (const std::optional<StationRefusal> refusal = OpenStation(options, plan)) {
    err << "tarvok: " << StationRefusalText(*refusal) << "\n";
    return kExitBadInput;
  }
  // With --json only the JSON object goes to standard output.
  std::ostream& human = options.json ? err : out;
  PrintStart(plan, options, human);
  StationPrinter printer(plan.setup, human);
  const auto desk = std::make_shared<OperatorDesk>(plan.setup.ports.size());
  std::vector<std::string> names;
  for (const StationPortSetup& port : plan.setup.ports) {
    names.push_back(port.portName);
  }
  const bool operatorNeeded = std::any_of(
      plan.setup.ports.begin(), plan.setup.ports.end(), [](const StationPortSetup& port) {
        return port.signal.kind == BoardSignal::kOperator || port.signal.kind == BoardSignal::kChip;
      });
  if (operatorNeeded) {
    StartOperatorReader(in, desk, names, err);
  }
  StationWorld world = RealStationWorld();
  // Each port's adapter is looked at before its first burn of the run (an adapter that comes
  // with each board is looked at when it first comes).
  world.adapterLatency = [advised = std::make_shared<std::set<std::string>>(),
                          mutex = std::make_shared<std::mutex>()](
                             const std::string& portName,
                             const std::string& devicePath) -> std::optional<AdapterLatency> {
    const std::lock_guard lock(*mutex);
    if (!advised->insert(portName).second) {
      return std::nullopt;
    }
    const std::optional<LatencyFinding> finding = MachineLatencyCheck().Find(devicePath);
    if (!finding) {
      return std::nullopt;
    }
    return AdapterLatency{finding->timerMs, finding->lowered};
  };
  Station station(plan.setup, std::move(world), printer, *desk, *plan.log, *plan.ledger,
                  plan.units.get());
  station.Run(stop);
  return Report(station, plan, options, out, human);
}

}  // namespace tarvok::cli
