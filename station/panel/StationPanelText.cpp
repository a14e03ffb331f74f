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

std::string SignalWords(const BoardSignalChoice& signal) {
  switch (signal.kind) {
    case BoardSignal::kPort:
      return "the port appears with each board";
    case BoardSignal::kModemLine:
      return std::string("the ") +
             (signal.modemLine == kModemCts    ? "CTS"
              : signal.modemLine == kModemDcd  ? "DCD"
              : signal.modemLine == kModemRing ? "RI"
                                               : "DSR") +
             " line follows the board";
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
  std::string result = record.result == "pass"   ? "PASS"
                       : record.result == "fail" ? "FAIL"
                                                 : "INTERRUPTED";
  std::string line = clock + "  " + record.port + "  " + result;
  if (record.hasUnit) {
    line += "  unit " + std::to_string(record.unit);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "  %.1f s", record.totalSeconds);
  line += seconds;
  if (record.result != "pass" && !record.message.empty()) {
    line += "  " + record.message;
  }
  return line;
}

std::string RefusalText(const std::string& problem) {
  if (problem.find("is not the expected one") != std::string::npos) {
    return "WRONG IMAGE: nothing was burned. Do not burn with this station file; call the "
           "engineer who prepared it.\n\n" +
           problem;
  }
  return "The station cannot be opened:\n\n" + problem;
}

}  // namespace tarvok
