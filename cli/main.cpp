// tarvok: burns flash images into TR7340 chips from the command line.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>
#include <set>
#include <string>

#include "burn/LineOptions.h"
#include "cli/BurnCommand.h"
#include "cli/Console.h"
#include "cli/HelpLayout.h"
#include "cli/PortsCommand.h"
#include "cli/StationCommand.h"
#include "cli/StationFileOptions.h"
#include "cli/UsageError.h"
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

// The burn command's arguments and options, with the settings' words from the one table.
CLI::App* AddBurnCommand(CLI::App& app, tarvok::cli::BurnOptions& options) {
  // An empty name ('') is a slip in a script, not a file or a port.
  const CLI::Validator notEmpty(
      [](const std::string& value) { return value.empty() ? std::string("an empty name") : ""; },
      "");
  CLI::App* burn = app.add_subcommand("burn", "burn an image into one or more chips");
  burn->add_option("IMAGE", options.image, "the image file, burned from flash address 0")
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

// The station command: the burn's image, ports, loader and settings, and what a production line
// adds to them.
CLI::App* AddStationCommand(CLI::App& app, tarvok::cli::StationOptions& options) {
  CLI::App* station = app.add_subcommand(
      "station",
      "production line: on every port wait for a board, burn it, record it, wait for "
      "it to leave, again; until Ctrl-C or --count");
  tarvok::cli::BurnOptions& burn = options.burn;
  station->add_option("--station", options.stationFile,
                      "the station file an engineer prepared; options given here override it");
  station->add_option("IMAGE", burn.image, "the image file, burned from flash address 0");
  station->add_option("--port", burn.ports, "a device path or a COM name; repeat for each fixture")
      ->take_all();
  station->add_option("--log", options.log,
                      "append one JSON line per board to this file (kept across restarts)");
  station
      ->add_option("--board", options.board,
                   "how a board arrives and leaves: operator (Enter on the terminal), port "
                   "(the port appears and disappears), dsr, cts, dcd or ri (a modem-status "
                   "input follows the fixture's contact), chip (the chip's own traffic)")
      ->check(CLI::IsMember(tarvok::cli::BoardSignalWords()))
      ->capture_default_str();
  station
      ->add_option("--leave-silence-ms", options.leaveSilenceMs,
                   "with --board chip: a burned board has left once its line has been quiet "
                   "this long after it last spoke")
      ->capture_default_str();
  station->add_option("--expect-sha256", options.expectSha256,
                      "refuse the image unless its SHA-256 is this (from the release note)");
  station->add_option("--name", options.name, "the station's name in the log (default: host name)");
  station->add_option("--count", options.count,
                      "end once this many boards have passed (0: no end)");
  station
      ->add_option("--max-failures", options.maxFailures,
                   "failed boards in a row that stop a port (0: never)")
      ->capture_default_str();
  station->add_option("--unit-offset", options.unitOffset,
                      "write a unit number into each board's image at this offset (0x... for hex)");
  station->add_option("--unit-first", options.unitFirst, "the first unit number of the series");
  station->add_option("--unit-step", options.unitStep, "added for each board")
      ->capture_default_str();
  station
      ->add_option("--unit-format", options.unitFormat,
                   "le32, be32 (32-bit little or big end first) or dec:WIDTH (ASCII digits)")
      ->capture_default_str();
  station->add_option("--unit-state", options.unitState,
                      "where the next unit number is kept (default: beside the log)");
  station->add_option("--loader", burn.loaderFile,
                      "download this RAM loader binary instead of the one built in");
  AddLineSettingOptions(*station, burn);
  station->add_flag("--json", burn.json, "print the counts as one JSON object at the end");
  return station;
}

// One line in our own words for what the parser refused, pointing at the help that lists what
// was wrong: the burn options are in burn's own.
void ReportUsageError(const CLI::ParseError& error, tarvok::cli::ConsoleArguments& arguments,
                      const CLI::App& burn, const CLI::App& ports, const CLI::App& station) {
  const std::string first = arguments.Count() > 1 ? arguments.Values()[1] : "";
  const std::string help = burn.parsed()      ? "'tarvok burn --help'"
                           : ports.parsed()   ? "'tarvok ports --help'"
                           : station.parsed() ? "'tarvok station --help'"
                                              : "'tarvok --help'";
  if (!first.empty() && !ports.parsed() && !burn.parsed() && !station.parsed()) {
    std::cerr << "tarvok: unknown " << (first[0] == '-' ? "option " : "command ") << first
              << " (see 'tarvok --help')\n";
    return;
  }
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
                       "print the version and the RAM loader built in, and exit");
  app.set_help_all_flag("--help-all", "print the help of every command and exit");
  CLI::App* ports = app.add_subcommand("ports", "list the serial ports and their COM numbers");
  tarvok::cli::BurnOptions options;
  CLI::App* burn = AddBurnCommand(app, options);
  tarvok::cli::StationOptions stationOptions;
  CLI::App* station = AddStationCommand(app, stationOptions);

  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    ReportUsageError(error, arguments, *burn, *ports, *station);
    return tarvok::cli::kExitBadInput;
  }
  if (ports->parsed()) {
    return tarvok::cli::RunPortsCommand(std::cout);
  }
  InstallSignalHandlers();
  if (station->parsed()) {
    std::set<std::string> given;
    for (const CLI::Option* option : station->get_options()) {
      if (option->count() > 0) {
        given.insert(option->get_name());
      }
    }
    if (!tarvok::cli::CompleteStationOptions(stationOptions, given, std::cerr)) {
      return tarvok::cli::kExitBadInput;
    }
    return tarvok::cli::RunStationCommand(stationOptions, std::cin, std::cout, std::cerr,
                                          stopRequested);
  }
  return tarvok::cli::RunBurnCommand(options, std::cout, std::cerr, tarvok::cli::StdoutIsTerminal(),
                                     stopRequested);
}
