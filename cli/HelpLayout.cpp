#include "cli/HelpLayout.h"

#include <memory>

namespace tarvok::cli {

HelpLayout::HelpLayout() {
  label("SUBCOMMAND", "COMMAND");
  label("Positionals", "Arguments");
}

std::string HelpLayout::make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const {
  const std::vector<const CLI::App*> commands =
      app->get_subcommands([](const CLI::App* command) { return !command->get_name().empty(); });
  if (commands.empty()) {
    return {};
  }
  std::string text = "\nCommands:\n";
  for (const CLI::App* command : commands) {
    text += make_subcommand(command);
  }
  if (mode == CLI::AppFormatMode::All) {
    for (const CLI::App* command : commands) {
      text += command->help(command->get_name(), CLI::AppFormatMode::Sub);
    }
  }
  return text;
}

std::string HelpLayout::make_expanded(const CLI::App* command) const {
  std::string arguments;
  std::string options;
  for (const CLI::Option* option : command->get_options()) {
    if (option->get_group().empty() || option == command->get_help_ptr() ||
        option == command->get_help_all_ptr()) {
      continue;  // hidden, or the help every command has
    }
    (option->get_positional() ? arguments : options) +=
        make_option(option, option->get_positional());
  }
  if (arguments.empty() && options.empty()) {
    return {};  // the list of commands has said all there is
  }
  const CLI::App* parent = command->get_parent();
  const std::string name =
      (parent != nullptr ? parent->get_name() + " " : std::string()) + command->get_name();
  return "\nArguments and options of " + name + ":\n" + arguments + options;
}

void UseHelpLayout(CLI::App& app) {
  app.formatter(std::make_shared<HelpLayout>());
}

}  // namespace tarvok::cli
