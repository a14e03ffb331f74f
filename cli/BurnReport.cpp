#include "cli/BurnReport.h"

#include <cstdio>

#include "app/ImageText.h"
#include "app/OutcomeText.h"
#include "app/ReadBackWords.h"

namespace tarvok::cli {

std::string ResultOf(const BurnOutcome& outcome) {
  if (outcome.interrupted) {
    return "interrupted";
  }
  return outcome.Succeeded() ? "success" : "failure";
}

void PrintOutcome(std::ostream& out, const BurnRequest& request, const BurnOutcome& outcome,
                  bool named) {
  if (outcome.interrupted) {
    out << request.portName << ": " << kInterruptedText << ": " << kPowerCycleText << "\n";
    return;
  }
  if (named) {
    out << request.portName << ":\n";
  }
  out << outcome.summary << "\n" << outcome.explanation << "\n";
  if (const std::string fill = ImageFillText(request.image->layout);
      !fill.empty() && outcome.Succeeded()) {
    out << "Image: " << fill << "\n";
  }
}

namespace {

nlohmann::json CrcOrNull(const std::optional<uint32_t>& crc) {
  return crc ? nlohmann::json(Crc32Text(*crc)) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json ReportOf(const BurnRequest& request, const BurnOutcome& outcome) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%x", outcome.status);
  const double imageSeconds = outcome.imageStageSeconds;
  return {
      {"result", ResultOf(outcome)},
      {"status", outcome.status},
      {"status_hex", hex},
      {"step_result", outcome.stepResult},
      {"message", outcome.summary},
      {"explanation", outcome.explanation},
      {"port_went_away", outcome.portWentAway},
      {"network_round_trip_ms", outcome.networkRoundTripMs},
      {"boot_stage", outcome.bootStageUsed},
      {"read_back", ReadBackWord(outcome.readBack)},
      {"image_crc32", CrcOrNull(ImageCrcOf(outcome))},
      {"flash_crc32", CrcOrNull(FlashCrcOf(outcome))},
      {"image",
       {{"path", request.image->path},
        {"size", request.image->size},
        {"format", ImageFormatName(request.image->layout.format)},
        {"regions", request.image->layout.regions.size()},
        {"filled_bytes", request.image->layout.filledBytes}}},
      {"port", request.portName},
      {"device", request.devicePath},
      {"rates", {{"rom", request.line.romRate}, {"burn", request.line.burnRate}}},
      {"seconds",
       {{"loader_stage", outcome.loaderStageSeconds},
        {"image_stage", imageSeconds},
        {"read_back", outcome.readBackSeconds},
        {"total", outcome.totalSeconds}}},
      {"bytes_per_second",
       imageSeconds > 0 ? static_cast<double>(outcome.imageBytesDone) / imageSeconds : 0.0},
  };
}

std::string JsonText(const nlohmann::json& report) {
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tarvok::cli
