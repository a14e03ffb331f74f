// tarvok: burns flash images into TR7340 chips from the command line.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>
#include <optional>
#include <string>

#include "app/BootStageFile.h"
#include "burn/ImageFile.h"
#include "burn/LineOptions.h"
#include "burn/NumberWord.h"
#include "cli/BurnCommand.h"
#include "cli/Console.h"
#include "cli/HelpLayout.h"
#include "cli/ImageCommand.h"
#include "cli/PortsCommand.h"
#include "cli/StationCommand.h"
#include "cli/StationRefusalText.h"
#include "cli/UsageError.h"
#include "station/config/StationArguments.h"
#include "version/VersionText.h"

namespace {

// Set by SIGINT and SIGTERM; the burns stop at their next byte boundary.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) {
  stopRequested.store(true);
}

// A first SIGINT or SIGTERM asks the burns to stop and be reported; the handler is then
// reset, so a second one ends the program at once. A reader that goes away (`| head`) must
// not end a burn: SIGPIPE is ignored and the output is simply lost.
void InstallSignalHandlers() {
#ifdef _WIN32
  // Ctrl-C and Ctrl-Break in a console; the C runtime runs the handler once, then resets it.
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
#endif
}

// The command-line words of one setting's choices, for the option's check and its help.
template <typename Value, std::size_t N>
std::vector<std::string> WordsOf(const std::array<tarvok::LineOption<Value>, N>& options) {
  std::vector<std::string> words;
  for (const auto& option : options) {
    words.emplace_back(option.word);
  }
  return words;
}

// An option that takes one of a line setting's words, its default shown in the help.
template <typename Value, std::size_t N>
void AddSettingOption(CLI::App& command, const std::string& name, std::string& word,
                      const std::string& description,
                      const std::array<tarvok::LineOption<Value>, N>& choices) {
  command.add_option(name, word, description)
      ->check(CLI::IsMember(WordsOf(choices)))
      ->capture_default_str();
}

// The five line settings of a burn, as burn and station take them.
void AddLineSettingOptions(CLI::App& command, tarvok::cli::BurnOptions& options) {
  AddSettingOption(command, "--rom-baud", options.romBaud, "rate of the chip's boot ROM",
                   tarvok::kRomRates);
  AddSettingOption(command, "--burn-baud", options.burnBaud, "rate of the image transfer",
                   tarvok::kBurnRates);
  AddSettingOption(command, "--data-bits", options.dataBits, "data bits per character",
                   tarvok::kDataBitsOptions);
  AddSettingOption(command, "--parity", options.parity, "parity bit", tarvok::kParityOptions);
  AddSettingOption(command, "--stop-bits", options.stopBits, "stop bits", tarvok::kStopBitsOptions);
}

// --flash-base: an address, decimal or 0x..., within 32 bits.
void AddFlashBaseOption(CLI::App& command, std::string& word) {
  const CLI::Validator address(
      [](const std::string& value) {
        return tarvok::ParseNumberWord(value, true, UINT32_MAX)
                   ? std::string()
                   : "'" + value + "' is not an address (decimal, or hexadecimal as 0x...)";
      },
      "ADDRESS");
  command.add_option("--flash-base", word, tarvok::kFlashBaseHelp)
      ->check(address)
      ->capture_default_str();
}

// The image command: what a burn of a file would write.
CLI::App* AddImageCommand(CLI::App& app, tarvok::cli::ImageOptions& options) {
  CLI::App* image = app.add_subcommand(
      "image",
      "show what a burn of an image file writes: its regions, the fill between them, "
      "and the CRC-32 and SHA-256 of the bytes burned");
  image->add_option("FILE", options.image, "a raw binary, Intel HEX, S-record or ELF32 file")
      ->required();
  AddFlashBaseOption(*image, options.flashBase);
  image->add_flag("--json", options.json, "print one JSON object");
  return image;
}

// The burn command's arguments and options, with the settings' words from the one table.
CLI::App* AddBurnCommand(CLI::App& app, tarvok::cli::BurnOptions& options) {
  // An empty name ('') is a slip in a script, not a file or a port.
  const CLI::Validator notEmpty(
      [](const std::string& value) { return value.empty() ? std::string("an empty name") : ""; },
      "");
  CLI::App* burn = app.add_subcommand("burn", "burn an image into one or more chips");
  burn->add_option("IMAGE", options.image,
                   "the image file, burned from flash address 0: a raw binary, Intel HEX, "
                   "S-record or ELF32 (known by its content)")
      ->required()
      ->check(notEmpty);
  burn->add_option("--port", options.ports,
                   "a device path or a COM name from 'tarvok ports'; repeat to burn several chips "
                   "at once")
      ->required()
      ->check(notEmpty)
      ->take_all();
  CLI::Option* loader = burn->add_option(
      "--loader", options.loaderFile,
      "download this RAM loader binary instead of the one built into tarvok; a real "
      "board needs its own (the built-in loader is for the simulated chip)");
  CLI::Option* bootStage =
      burn->add_option("--boot-stage", options.bootStageFile, tarvok::kBootStageOptionHelp);
  CLI::Option* classic = burn->add_flag("--classic", options.classic, tarvok::kClassicOptionHelp);
  classic->excludes(bootStage);  // the stage would be ignored
  AddFlashBaseOption(*burn, options.flashBase);
  AddLineSettingOptions(*burn, options);
  burn->add_flag("--json", options.json, "print one JSON object with the results at the end");
  CLI::Option* running = burn->add_flag(
      "--loader-running", options.loaderRunning,
      "for tests and set-ups that start the RAM loader by other means: the loader has "
      "just been started and is about to greet, so skip waking the boot ROM and "
      "downloading it. It does not recover a chip after a failed or interrupted burn "
      "(the loader greets only once): power-cycle the chip and burn without it");
  running->excludes(loader);  // a running loader is not downloaded: the file would be ignored
  return burn;
}

// The station command: its options from the station's one option table.
CLI::App* AddStationCommand(CLI::App& app, tarvok::StationArguments& arguments) {
  CLI::App* station = app.add_subcommand(
      "station",
      "production line: on every port wait for a board, burn it, record it, wait for "
      "it to leave, again; until Ctrl-C or --count");
  tarvok::AddStationOptions(*station, tarvok::StationFront::kCommandLine, arguments);
  return station;
}

// The station's options completed from its station file, each override said on one line;
// a refusal said on one line, and kExitBadInput.
int RunStation(const tarvok::StationArguments& arguments) {
  tarvok::StationOptions options;
  std::vector<tarvok::StationOverride> overrides;
  const std::optional<tarvok::StationRefusal> refusal =
      tarvok::CompleteStationOptions(arguments, options, overrides);
  for (const tarvok::StationOverride& override : overrides) {
    std::cerr << "tarvok: " << tarvok::cli::StationOverrideText(override) << "\n";
  }
  if (refusal) {
    std::cerr << "tarvok: " << tarvok::cli::StationRefusalText(*refusal)
              << (refusal->kind == tarvok::StationRefusalKind::kBadValue &&
                          refusal->place.file.empty()
                      ? " (see 'tarvok station --help')"
                      : "")
              << "\n";
    return tarvok::cli::kExitBadInput;
  }
  return tarvok::cli::RunStationCommand(options, std::cin, std::cout, std::cerr, stopRequested);
}

// One line in our own words for what the parser refused, pointing at the help that lists what
// was wrong: the burn options are in burn's own.
void ReportUsageError(const CLI::ParseError& error, tarvok::cli::ConsoleArguments& arguments,
                      CLI::App& app) {
  const std::string first = arguments.Count() > 1 ? arguments.Values()[1] : "";
  const std::vector<CLI::App*> parsed =
      app.get_subcommands([](const CLI::App* command) { return command->parsed(); });
  if (!first.empty() && parsed.empty()) {
    std::cerr << "tarvok: unknown " << (first[0] == '-' ? "option " : "command ") << first
              << " (see 'tarvok --help')\n";
    return;
  }
  const std::string help =
      parsed.empty() ? "'tarvok --help'" : "'tarvok " + parsed.front()->get_name() + " --help'";
  std::cerr << "tarvok: " << tarvok::cli::UsageErrorText(error) << " (see " << help << ")\n";
}

}  // namespace

int main(int argc, char** argv) {
  tarvok::cli::ConsoleArguments arguments(argc, argv);
  CLI::App app{"Tarvok: burns a flash image into a TR7340 chip over a serial port", "tarvok"};
  // Both before the commands, which take them over: the help's layout, and no "/option"
  // forms (CLI11's default on Windows), so that an image path may start with '/' there too.
  tarvok::cli::UseHelpLayout(app);
  app.allow_windows_style_options(false);
  app.set_help_flag("-h,--help", "print this help and exit");
  app.require_subcommand(1);
  app.set_version_flag("--version", tarvok::VersionText("tarvok"),
                       "print the version, the RAM loader and the boot stage built in, and exit");
  app.set_help_all_flag("--help-all", "print the help of every command and exit");
  CLI::App* ports = app.add_subcommand("ports", "list the serial ports and their COM numbers");
  tarvok::cli::BurnOptions options;
  AddBurnCommand(app, options);
  tarvok::cli::ImageOptions imageOptions;
  CLI::App* image = AddImageCommand(app, imageOptions);
  tarvok::StationArguments stationArguments;
  CLI::App* station = AddStationCommand(app, stationArguments);

  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    ReportUsageError(error, arguments, app);
    return tarvok::cli::kExitBadInput;
  }
  if (ports->parsed()) {
    return tarvok::cli::RunPortsCommand(std::cout);
  }
  if (image->parsed()) {
    return tarvok::cli::RunImageCommand(imageOptions, std::cout, std::cerr);
  }
  InstallSignalHandlers();
  if (station->parsed()) {
    return RunStation(stationArguments);
  }
  return tarvok::cli::RunBurnCommand(options, std::cout, std::cerr, tarvok::cli::StdoutIsTerminal(),
                                     stopRequested);
}
