#include "station/panel/StationPanelText.h"

#include <algorithm>
#include <cstdio>

#include "burn/LineOptions.h"

namespace tarvok {
namespace {

constexpr std::size_t kShortDigestDigits = 12;

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* LineName(uint32_t line) {
  return line == kModemCts ? "CTS" : line == kModemDcd ? "DCD" : line == kModemRing ? "RI" : "DSR";
}

std::string SignalWords(const BoardSignalChoice& signal) {
  switch (signal.kind) {
    case BoardSignal::kPort:
      return "the port appears with each board";
    case BoardSignal::kModemLine:
      return std::string("the ") + LineName(signal.modemLine) + " line follows the board";
    case BoardSignal::kOperator:
      return "the operator presses Next board";
    case BoardSignal::kChip:
      return "the chip answers; gone after " + std::to_string(signal.leaveSilenceMs) +
             " ms of silence";
  }
  return "";
}

}  // namespace

uint64_t RollingBoardsPerHour(const std::deque<uint64_t>& passedMs, uint64_t startMs) {
  if (passedMs.empty()) {
    return 0;
  }
  const std::size_t count = std::min(passedMs.size(), kRateBoards);
  const uint64_t fromMs = passedMs.size() > kRateBoards ? passedMs[passedMs.size() - 1 - count]
                                                        : std::min(startMs, passedMs.front());
  const uint64_t spanMs = passedMs.back() - fromMs;
  return spanMs == 0 ? 0 : count * 3'600'000 / spanMs;
}

StationHeader HeaderOf(const StationSetup& setup, const std::string& logPath,
                       const PortCounts& total, uint64_t boardsPerHour) {
  StationHeader header;
  header.title = setup.name;
  header.image = FileNameOf(setup.imagePath) + "   " +
                 std::to_string(setup.image ? setup.image->size : 0) + " bytes   SHA-256 " +
                 setup.imageSha256.substr(0, kShortDigestDigits);
  header.totals =
      "pass " + std::to_string(total.passed) + "   fail " + std::to_string(total.failed) +
      (total.interrupted == 0 ? "" : "   interrupted " + std::to_string(total.interrupted));
  header.rate = total.passed == 0 ? "no board passed yet"
                                  : std::to_string(boardsPerHour) + " boards per hour";
  header.log = "log " + logPath;
  return header;
}

std::vector<std::string> SettingsLines(const StationSetup& setup, const std::string& logPath) {
  std::vector<std::string> lines;
  lines.push_back("station: " + setup.name);
  lines.push_back("image: " + setup.imagePath);
  lines.push_back("image SHA-256: " + setup.imageSha256);
  lines.push_back(std::string("loader: ") + (setup.loader ? "from a file" : "built in") +
                  ", SHA-256 " + setup.loaderSha256);
  lines.push_back("boot ROM rate: " + std::to_string(setup.line.romRate) + " baud");
  lines.push_back("burn rate: " + (setup.line.burnRate == 0
                                       ? std::string("the loader's")
                                       : std::to_string(setup.line.burnRate) + " baud"));
  lines.push_back(std::string("line: ") + WordOf(kDataBitsOptions, setup.line.dataBits) + " " +
                  WordOf(kParityOptions, setup.line.parity) + " " +
                  WordOf(kStopBitsOptions, setup.line.stopBits));
  for (const StationPortSetup& port : setup.ports) {
    lines.push_back("port " + port.portName + ": " + SignalWords(port.signal));
  }
  lines.push_back("a port stops after " +
                  (setup.failuresToStopPort == 0
                       ? std::string("no number of failures")
                       : std::to_string(setup.failuresToStopPort) + " failures in a row"));
  if (setup.boardsToPass != 0) {
    lines.push_back("the station ends after " + std::to_string(setup.boardsToPass) +
                    " boards passed");
  }
  if (setup.units) {
    lines.push_back("unit numbers: from " + std::to_string(setup.units->first) + ", step " +
                    std::to_string(setup.units->step) + ", " + UnitEncodingWord(*setup.units) +
                    " at offset " + std::to_string(setup.units->offset));
  } else {
    lines.push_back("unit numbers: none");
  }
  lines.push_back("log: " + logPath);
  return lines;
}

std::string RecordLine(const UnitRecord& record) {
  // "2026-12-08T19:21:58.123Z": the time of day, UTC as the log has it.
  const std::string clock = record.time.size() >= 19 ? record.time.substr(11, 8) : record.time;
  std::string result = record.result == UnitResult::kPass   ? "PASS"
                       : record.result == UnitResult::kFail ? "FAIL"
                                                            : "INTERRUPTED";
  std::string line = clock + "  " + record.port + "  " + result;
  if (record.hasUnit) {
    line += "  unit " + std::to_string(record.unit);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "  %.1f s", record.totalSeconds);
  line += seconds;
  if (record.result != UnitResult::kPass && !record.message.empty()) {
    line += "  " + record.message;
  }
  return line;
}

std::string ArrivalText(const StationPortSetup& port) {
  switch (port.signal.kind) {
    case BoardSignal::kPort:
      return "waiting for " + port.portName + " to appear: plug in the next board";
    case BoardSignal::kModemLine:
      return std::string("waiting for ") + LineName(port.signal.modemLine) +
             ": put the next board in the fixture";
    case BoardSignal::kOperator:
      return "put the next board in, then press Next board";
    case BoardSignal::kChip:
      return "waking the boot ROM until a board answers";
  }
  return "";
}

std::string LeaveText(const PortPhaseReason& reason) {
  std::string text = reason.fromBeforeRestart ? "burned before the port started: " : "";
  if (!reason.board) {
    text += "its burn was cut when the station stopped: take the board out";
  } else if (*reason.board == UnitResult::kPass) {
    text += "remove the board";
  } else {
    text += "take the board out";
  }
  if (reason.burnsAgainWhenQuiet) {
    return text + "; the next board is burned when it answers (this one again if left in)";
  }
  if (reason.signal.kind == BoardSignal::kChip) {
    return text + "; it has left once its firmware has been quiet " +
           std::to_string(reason.signal.leaveSilenceMs) + " ms";
  }
  return text + "; the next board is burned once this one has left";
}

std::string NoticeText(const StationPortSetup& port, const PortNotice& notice) {
  const std::string line = LineName(notice.modemLine);
  switch (notice.kind) {
    case PortNoticeKind::kPortMissing:
      return "no port " + port.portName + " on this machine; waiting for it";
    case PortNoticeKind::kPortUnusable:
      return notice.openFailure + " (" + notice.openReason + "); trying again";
    case PortNoticeKind::kCannotWatchLine:
      return "cannot open " + port.portName + " to watch " + line + ": " + notice.openReason +
             "; trying again";
    case PortNoticeKind::kLineStatusUnreported:
      return port.portName + " does not report its modem lines, so " + line +
             " cannot be watched; trying again";
    case PortNoticeKind::kNoSignOfLeaving:
      return "no sign of the board leaving (its firmware is silent): press Next board once it "
             "has been taken out";
    case PortNoticeKind::kLineNotQuiet:
      return "the line has not been quiet since the burn: take the board out; if the next "
             "board is already in place, press Next board";
    case PortNoticeKind::kLeaveOverdue:
      return "the board has not been seen to leave for " + std::to_string(notice.waitedMs / 1000) +
             " s: take it out";
    case PortNoticeKind::kAdapterLatency:
      return notice.latencyLowered
                 ? "USB adapter latency timer set from " + std::to_string(notice.latencyTimerMs) +
                       " ms to 1 ms"
                 : "USB adapter latency timer " + std::to_string(notice.latencyTimerMs) +
                       " ms slows the burn: set it to 1 ms in the adapter's settings";
    case PortNoticeKind::kSlowNetwork:
      return "the network round trip of " + std::to_string(notice.roundTripMs) +
             " ms costs about " + std::to_string(notice.costPercent) +
             " % of the burn's speed: a serial server nearer the PC burns faster";
  }
  return "";
}

std::string StopText(const PortStop& stop) {
  switch (stop.kind) {
    case PortStopKind::kNone:
      return "stopped";
    case PortStopKind::kOperator:
      return "stopped by the operator";
    case PortStopKind::kInterrupted:
      return "interrupted";
    case PortStopKind::kWindowClosed:
      return "the window was closed";
    case PortStopKind::kStationClosed:
      return "the station closed";
    case PortStopKind::kBoardsPassed:
      return std::to_string(stop.count) + " boards passed";
    case PortStopKind::kFailuresInRow:
      return std::to_string(stop.count) + " boards failed in a row; the last: " + stop.lastMessage +
             ". Check the fixture and the port, then press Start";
    case PortStopKind::kLog:
      return "the log cannot be written: " + stop.problem;
    case PortStopKind::kLedger:
      return "the boards in place cannot be kept on disk: " + stop.problem;
    case PortStopKind::kUnitNumbers:
      return "no unit number for the next board: " + stop.problem;
    case PortStopKind::kNoThread:
      return "no thread could be made for the port";
  }
  return "";
}

namespace {

std::string KeyWords(const StationRefusal& refusal) {
  if (refusal.place.file.empty()) {
    return refusal.name;
  }
  return refusal.name + (refusal.section.empty()     ? ""
                         : refusal.section == "port" ? " in [[port]]"
                                                     : " in [" + refusal.section + "]");
}

// A value the window was given, or found in the station file, that fails its check.
std::string BadValueWords(const StationRefusal& refusal) {
  const std::string key = KeyWords(refusal);
  const std::string value = refusal.value.empty() ? "" : " " + refusal.value;
  if (refusal.option == nullptr || refusal.fault == ValueFault::kWrongType) {
    const std::string wanted = refusal.expected == "integer"  ? "a number"
                               : refusal.expected == "string" ? "a string in quotes"
                                                              : "a table";
    return key + " must be " + wanted + " (it is " + refusal.actual + ")";
  }
  const StationOption& option = *refusal.option;
  switch (refusal.fault) {
    case ValueFault::kNotOneOf:
      return key + value + " is not one of " + JoinedWords(option.words(), ", ");
    case ValueFault::kOutOfRange:
      return key + value + " is not a number from " + std::to_string(option.least) + " to " +
             std::to_string(option.most);
    case ValueFault::kNotOffset:
      return key + value + " is not an offset (decimal, or hexadecimal as 0x...)";
    case ValueFault::kNotDigest:
      return key + " is not a SHA-256 (64 hexadecimal digits)";
    case ValueFault::kNotUnitFormat:
      return key + value + " is not le32, be32 or dec:WIDTH";
    case ValueFault::kChipOnly:
      return key + " is for board = \"chip\" only";
    default:
      return key + " is empty";
  }
}

}  // namespace

std::string StationOpeningWords(const StationRefusal& refusal) {
  switch (refusal.kind) {
    case StationRefusalKind::kNoSuchPort:
      return "no port " + refusal.value + ": give a device path or a COM name";
    case StationRefusalKind::kSamePort:
      if (refusal.otherLine > 0) {
        return "port " + refusal.value + " is already on line " +
               std::to_string(refusal.otherLine) +
               (refusal.other == refusal.value ? "" : " as " + refusal.other) +
               ": give each port once";
      }
      return refusal.other + " and " + refusal.value + " are the same port: give each port once";
    case StationRefusalKind::kUnusablePort:
      return refusal.detail;
    case StationRefusalKind::kImageUnreadable:
      return "image " + refusal.value + " " + refusal.detail;
    case StationRefusalKind::kLoaderUnreadable:
      return "loader " + refusal.value + " " + refusal.detail;
    case StationRefusalKind::kBootStageUnreadable:
      return "boot stage " + refusal.value + " " + refusal.detail;
    case StationRefusalKind::kWrongImage:
    case StationRefusalKind::kWrongLoader:
    case StationRefusalKind::kWrongBootStage:
      return std::string(refusal.kind == StationRefusalKind::kWrongImage    ? "image "
                         : refusal.kind == StationRefusalKind::kWrongLoader ? "loader "
                                                                            : "boot stage ") +
             refusal.value + " is not the expected one: its SHA-256 is " + refusal.actual +
             ", not " + refusal.expected + "; nothing was burned";
    case StationRefusalKind::kUnitNumbers:
      return "unit numbers: " + refusal.detail + "; nothing was burned";
    case StationRefusalKind::kLogFolderMissing:
      return "log " + refusal.value + " cannot be used: its folder " + refusal.other +
             " does not exist";
    case StationRefusalKind::kLogUnusable:
      return "log " + refusal.value + " cannot be used: " + refusal.detail;
    default:
      return BadValueWords(refusal);
  }
}

std::string RefusalReason(const StationRefusal& refusal) {
  const StationPlace& place = refusal.place;
  const std::string where =
      place.file.empty()
          ? ""
          : "station file " + place.file +
                (place.line > 0 ? ", line " + std::to_string(place.line) : "") + ": ";
  switch (refusal.kind) {
    case StationRefusalKind::kStationFileUnreadable:
      return "station file " + place.file + " cannot be opened";
    case StationRefusalKind::kStationFileNotToml:
      return where + refusal.detail;
    case StationRefusalKind::kUnknownKey:
      return where + "unknown key \"" + refusal.name + "\" (known: " + refusal.expected + ")";
    case StationRefusalKind::kMissingKey:
      return where + (refusal.section.empty() ? "" : "[" + refusal.section + "] ") + "needs " +
             refusal.name;
    case StationRefusalKind::kMissingOption:
      return "no station file, and no " + refusal.name +
             ": give a station file, or the image with --port and --log";
    case StationRefusalKind::kOptionNeedsOption:
      return where + refusal.name + " needs " + refusal.other +
             (refusal.other == "--loader" ? ": the built-in loader brings its own boot stage" : "");
    case StationRefusalKind::kOptionExcludesOption:
      return where + refusal.name + " excludes " + refusal.other + ": the stage would not be used";
    case StationRefusalKind::kSilenceWithoutChip:
      return "--leave-silence-ms is for --board chip; with --board " + refusal.value +
             " a board's leaving is seen without it";
    default:
      return where + StationOpeningWords(refusal);
  }
}

std::string RefusalText(const StationRefusal& refusal) {
  if (refusal.kind == StationRefusalKind::kWrongImage ||
      refusal.kind == StationRefusalKind::kWrongLoader ||
      refusal.kind == StationRefusalKind::kWrongBootStage) {
    return std::string(refusal.kind == StationRefusalKind::kWrongImage    ? "WRONG IMAGE"
                       : refusal.kind == StationRefusalKind::kWrongLoader ? "WRONG LOADER"
                                                                          : "WRONG BOOT STAGE") +
           ": nothing was burned. Do not burn with this station file; call the engineer who "
           "prepared it.\n\n" +
           RefusalReason(refusal);
  }
  return "The station cannot be opened:\n\n" + RefusalReason(refusal);
}

std::string OverrideNotice(const StationOverride& override) {
  return std::string(override.option->name) + " " + override.given +
         " overrides the station file's " + override.fileValue +
         (override.port.empty() ? "" : " on " + override.port);
}

}  // namespace tarvok
