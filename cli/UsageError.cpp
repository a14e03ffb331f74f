#include "cli/UsageError.h"

#include <cctype>

namespace tarvok::cli {
namespace {

// What follows "Label: " in one of the parser's own messages.
std::string AfterColon(const std::string& text) {
  const std::size_t colon = text.find(": ");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

}  // namespace

std::string UsageErrorText(const CLI::ParseError& error) {
  const std::string text = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    const std::string extras = AfterColon(text);
    const bool several = extras.find(' ') != std::string::npos;
    const bool option = !extras.empty() && extras[0] == '-';
    return std::string(option ? "unknown option" : "unexpected argument") + (several ? "s " : " ") +
           extras;
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
      text.find("subcommand") != std::string::npos) {
    return "a command is required: burn, station or ports";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    const std::size_t colon = text.find(':');
    return (colon == std::string::npos ? text : text.substr(0, colon)) + " needs a value";
  }
  // The parser's other messages already start with the option or argument they name.
  std::string own = text;
  if (!own.empty() && std::isupper(static_cast<unsigned char>(own[0])) != 0 &&
      own.find(' ') != std::string::npos && own.substr(0, own.find(' ')) != "IMAGE") {
    own[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(own[0])));
  }
  return own;
}

}  // namespace tarvok::cli
