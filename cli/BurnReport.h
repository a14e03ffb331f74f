// How `tarvok burn` reports each port's outcome: the lines for people and the JSON object.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "cli/BurnCommand.h"

namespace tarvok::cli {

struct PortOutcome {
  std::string name;    // as the user gave it
  std::string device;  // the device path it stands for
  uint32_t status = 0;
  bool interrupted = false;   // stopped on request before the run had ended
  bool portWentAway = false;  // the device disappeared under the run
  double loaderStageSeconds = 0;
  double imageStageSeconds = 0;
  double totalSeconds = 0;
  uint32_t imageBytesDone = 0;
};

// "success", "failure" or "interrupted".
std::string ResultOf(const PortOutcome& outcome);
// The outcome's lines for people; `named` puts the port's name before them (several ports).
void PrintOutcome(std::ostream& out, const PortOutcome& outcome, const BurnOptions& options,
                  bool named);
nlohmann::json ReportOf(const PortOutcome& outcome, const BurnOptions& options, uint32_t imageSize);
// The JSON text. Names that are not valid UTF-8 (file names are bytes) are written with
// U+FFFD in place of the bad bytes; it never throws for them.
std::string JsonText(const nlohmann::json& report);

}  // namespace tarvok::cli
