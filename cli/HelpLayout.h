// How tarvok's help reads. The commands are listed under "Commands:", one line each, and
// --help-all gives each command's arguments and options under a heading of their own that
// ends in a colon ("Arguments and options of tarvok burn:"), which help2man turns into a
// sub-section of the manual page instead of running the headings into the text.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvok::cli {

class HelpLayout : public CLI::Formatter {
 public:
  HelpLayout();
  std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override;
  std::string make_expanded(const CLI::App* command) const override;
};

// Gives `app` the layout; call it before adding the commands, which take it over.
void UseHelpLayout(CLI::App& app);

}  // namespace tarvok::cli
