#include "cli/BurnReport.h"

#include <cstdio>

#include "app/ProgressText.h"

namespace tarvok::cli {
namespace {

constexpr const char* kInterruptedText = "the burn was interrupted";
constexpr const char* kPowerCycleText = "the chip needs a power cycle before the next burn";
constexpr uint32_t kNoHello = 8;

std::string MessageOf(const PortOutcome& outcome) {
  if (outcome.interrupted) {
    return kInterruptedText;
  }
  return outcome.status == 0 ? std::string(kBurnSuccessText) : BurnFailureText(outcome.status);
}

std::string ExplanationOf(const PortOutcome& outcome, const BurnOptions& options) {
  if (outcome.interrupted) {
    return std::string(
               "stopped on request at a byte boundary and the port set back; the chip "
               "was left in the middle of the burn: ") +
           kPowerCycleText;
  }
  if (outcome.status != 0 && outcome.portWentAway) {
    return "the port went away during the burn (unplugged, or the line hung up): check the "
           "cable and the adapter; the flash does not hold the image";
  }
  if (outcome.status == kNoHello && options.loaderRunning) {
    return "the RAM loader did not announce itself: --loader-running expects a loader that has "
           "just been started and is about to greet; it greets only once, so a chip left by "
           "an earlier burn needs a power cycle and a burn without --loader-running";
  }
  return ExplainBurnStatus(outcome.status);
}

}  // namespace

std::string ResultOf(const PortOutcome& outcome) {
  if (outcome.interrupted) {
    return "interrupted";
  }
  return outcome.status == 0 ? "success" : "failure";
}

void PrintOutcome(std::ostream& out, const PortOutcome& outcome, const BurnOptions& options,
                  bool named) {
  if (outcome.interrupted) {
    out << outcome.name << ": " << kInterruptedText << ": " << kPowerCycleText << "\n";
    return;
  }
  if (named) {
    out << outcome.name << ":\n";
  }
  out << MessageOf(outcome) << "\n" << ExplanationOf(outcome, options) << "\n";
}

nlohmann::json ReportOf(const PortOutcome& outcome, const BurnOptions& options,
                        uint32_t imageSize) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%x", outcome.status);
  const double imageSeconds = outcome.imageStageSeconds;
  return {
      {"result", ResultOf(outcome)},
      {"status", outcome.status},
      {"status_hex", hex},
      {"message", MessageOf(outcome)},
      {"explanation", ExplanationOf(outcome, options)},
      {"port_went_away", outcome.portWentAway},
      {"image", {{"path", options.image}, {"size", imageSize}}},
      {"port", outcome.name},
      {"device", outcome.device},
      {"rates", {{"rom", std::stoul(options.romBaud)}, {"burn", std::stoul(options.burnBaud)}}},
      {"seconds",
       {{"loader_stage", outcome.loaderStageSeconds},
        {"image_stage", imageSeconds},
        {"total", outcome.totalSeconds}}},
      {"bytes_per_second",
       imageSeconds > 0 ? static_cast<double>(outcome.imageBytesDone) / imageSeconds : 0.0},
  };
}

std::string JsonText(const nlohmann::json& report) {
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarvok::cli
