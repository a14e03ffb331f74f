// The command line's refusals in its own words: lower case, to the point, as every other
// line tarvok prints ("a command is required", "unexpected argument c").
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace tarvok::cli {

std::string UsageErrorText(const CLI::ParseError& error);

}  // namespace tarvok::cli
