// How `tarvok burn` reports each port's outcome: the lines for people and the JSON object.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "burn/BurnRequest.h"

namespace tarvok::cli {

// "success", "failure" or "interrupted".
std::string ResultOf(const BurnOutcome& outcome);
// The outcome's lines for people; `named` puts the port's name before them (several ports).
void PrintOutcome(std::ostream& out, const BurnRequest& request, const BurnOutcome& outcome,
                  bool named);
nlohmann::json ReportOf(const BurnRequest& request, const BurnOutcome& outcome);
// The JSON text. Names that are not valid UTF-8 (file names are bytes) are written with
// U+FFFD in place of the bad bytes; it never throws for them.
std::string JsonText(const nlohmann::json& report);

}  // namespace tarvok::cli
