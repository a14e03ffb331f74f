// tarvok-sim: a simulated TR7340 on a pseudo-terminal. Prints the path to open as the serial
// port, answers as the chip would, and at the end says whether the finish arrived and whether
// the flash holds the image, and writes its flash contents to a file. With --boards it is a
// production fixture that sees a series of boards in turn (BoardSeries).
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "sim/BoardSeries.h"
#include "sim/PtyChip.h"
#include "version/VersionText.h"

namespace {

std::atomic<bool> interrupted{false};

std::atomic<bool> takeOut{false};

void OnSignal(int) {
  interrupted = true;
}

void OnTakeOut(int) {
  takeOut = true;
}

void AddLineFaults(CLI::App& app, const std::string& towards, tarvok::sim::LineFaults& faults) {
  const auto probability = CLI::Range(0.0, 1.0);
  app.add_option("--corrupt-to-" + towards, faults.corrupt,
                 "fault: probability per byte of a flipped bit")
      ->check(probability);
  app.add_option("--lose-to-" + towards, faults.lose, "fault: probability per byte of a loss")
      ->check(probability);
  app.add_option("--duplicate-to-" + towards, faults.duplicate,
                 "fault: probability per byte that it arrives twice")
      ->check(probability);
  app.add_option("--stall-to-" + towards, faults.stall,
                 "fault: probability per byte that the line stalls (--stall-ms) before it")
      ->check(probability);
  app.add_option("--hang-up-to-" + towards, faults.hangUp,
                 "fault: probability per byte that the line goes dead")
      ->check(probability);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// What the command line asks for: the chip's options, which CLI11 fills in place where it
// can, and the rest, from which Prepare completes them.
struct SimArgs {
  tarvok::sim::PtyChipOptions options;
  std::string flashFile;
  std::string link;
  std::string loaderVersion = "1.0";
  std::string ramLoader;
  std::string expectImage;
  bool exitAfterBurn = false;
  uint32_t replyCodeBlock = 0;
  int replyCode = 0;
  int eraseWait = 0;
  int flashFill = 0;
  uint32_t stallMs = 100;
  // The production fixture's.
  uint32_t boards = 0;  // 0: one chip, as without a fixture
  std::string olderImage;
  uint32_t appMs = 3000;
  std::string appSpeaks = "nmea";
  uint32_t boardGapMs = 2000;
  bool portPerBoard = false;
  std::vector<uint32_t> failBoards;
  std::vector<uint32_t> pullBoards;
  std::vector<uint32_t> stuckBoards;
  std::string boardDir;
};

// The chip, its flash and how the program runs. (--help lists the options in the order they
// are added.)
void AddChipOptions(CLI::App& app, SimArgs& args) {
  tarvok::sim::PtyChipOptions& options = args.options;
  app.add_option("--rom-baud", options.chip.romRate, "rate of the running chip and its boot ROM")
      ->check(CLI::IsMember({9600, 115200}));
  app.add_option("--flash-file", args.flashFile,
                 "write the flash contents here when the burn ends");
  app.add_option("--flash-size", options.chip.flashBytes, "flash size in bytes")
      ->check(CLI::Range(4096u, 256u * 1024 * 1024));
  app.add_option("--flash-fill", args.flashFill, "what the flash holds before the burn (0-255)")
      ->check(CLI::Range(0, 255));
  app.add_option("--link", args.link, "also make a symbolic link to the pseudo-terminal here");
  app.add_flag("--exit-after-burn", args.exitAfterBurn, "stop when one burn has ended");
  app.add_flag("--throttle", options.wire.throttle, "carry bytes at the line's baud rate");
  app.add_flag("--cpu", options.chip.cpu,
               "run the downloaded loader on an emulated ARM926 instead of the C++ model");
  app.add_option("--ram-loader", args.ramLoader,
                 "with --cpu --start-in-loader: the loader binary already in RAM at 0xC00")
      ->check(CLI::ExistingFile);
  app.add_flag("--start-in-loader", options.chip.startInLoader,
               "the loader already runs and says hello (skips the loader download)");
}

// Faults of the boot ROM and of the loader model.
void AddChipFaults(CLI::App& app, SimArgs& args) {
  tarvok::sim::ChipOptions& chip = args.options.chip;
  app.add_flag("--silent", chip.silent, "fault: never answer");
  app.add_flag("--no-handshake", chip.noHandshake, "fault: boot ROM ignores the handshake");
  app.add_flag("--wrong-echo", chip.wrongEcho, "fault: boot ROM garbles a download echo");
  app.add_flag("--wrong-checksum", chip.wrongChecksum, "fault: boot ROM checksum is off");
  app.add_option("--reject-block", chip.loader.rejectBlock, "fault: reject this block...");
  app.add_option("--reject-times", chip.loader.rejectTimes, "...this many times in a row");
  app.add_option("--reply-code", args.replyCode, "fault: answer a block with 5, 6 or 7")
      ->check(CLI::IsMember({5, 6, 7}));
  app.add_option("--reply-block", args.replyCodeBlock,
                 "the block --reply-code answers (default 0)");
  app.add_flag("--final-failure", chip.loader.finalFailure, "fault: end the stream with 0xB6");
  app.add_option("--loader-version", args.loaderVersion, "version the loader announces")
      ->check(CLI::IsMember({"1.0", "1.1"}));
  app.add_flag("--busy-hello", chip.loader.busyInsteadOfHello, "fault: 0x1C instead of hello");
  app.add_option("--erase-wait", args.eraseWait, "the loader's erase-wait byte")
      ->check(CLI::Range(0, 255));
  app.add_flag("--skip-erase", chip.loader.skipErase, "fault: acknowledge but do not erase");
  app.add_flag("--stage-silent", chip.stageSilent,
               "fault: nothing answers at the boot stage's address (0xB00), though the boot ROM "
               "took the download and its start");
  app.add_option("--stuck-bit", chip.stuckCell,
                 "fault: the flash cell at this address takes no bits when programmed (it "
                 "keeps what its erase left)")
      ->type_name("ADDRESS");
  app.add_flag("--wrong-crc", chip.loader.wrongCrc,
               "fault: the loader's flash CRC-32 (0xE4) comes with its lowest bit flipped (not "
               "with --cpu)")
      ->excludes(app.get_option("--cpu"));
  app.add_option("--bend-block", chip.loader.bendBlock,
                 "fault: block N (from 0) arrives with two bytes moved by +1 and -1, a change "
                 "its sum cannot see; the loader programs them (not with --cpu)")
      ->type_name("N")
      ->excludes(app.get_option("--cpu"));
}

// The line: the adapter's timer, faults both ways, and what to check and show at the end.
void AddWireOptions(CLI::App& app, SimArgs& args) {
  tarvok::sim::WireOptions& wire = args.options.wire;
  app.add_option("--latency-ms", wire.latencyMs,
                 "bytes to the host leave in bursts every N ms (a USB adapter's latency timer)")
      ->check(CLI::Range(0u, 1000u));
  AddLineFaults(app, "chip", wire.toChip);
  AddLineFaults(app, "host", wire.toHost);
  app.add_option("--stall-ms", args.stallMs, "how long a stall lasts (both directions)")
      ->check(CLI::Range(0u, 60000u));
  app.add_option("--seed", wire.seed, "seed of the line's faults");
  app.add_option("--expect-image", args.expectImage,
                 "at the end, check the flash against this image file (exit 3 when it differs "
                 "or the finish never arrived)");
  app.add_flag("--trace", wire.trace, "print every byte crossing the wire on stderr");
  app.add_option("--hang-up-after-blocks", wire.hangUpAfterBlocks,
                 "fault: the line goes dead after this many blocks");
}

// A production fixture: a series of boards instead of one chip.
void AddFixtureOptions(CLI::App& app, SimArgs& args) {
  CLI::Option* boards =
      app.add_option("--boards", args.boards,
                     "be a production fixture that sees N boards in turn, each waiting for its "
                     "burn, then running its application (--app-ms), then leaving; exit when "
                     "the last has left. SIGUSR1 takes the board in place out, as an operator "
                     "would")
          ->check(CLI::Range(1u, 1000000u));
  boards->excludes(app.get_option("--exit-after-burn"))
      ->excludes(app.get_option("--flash-file"))
      ->excludes(app.get_option("--expect-image"));
  app.add_option("--older-image", args.olderImage,
                 "the flash holds this file's bytes from address 0 on before the burn (an "
                 "older firmware; the rest as --flash-fill says)")
      ->check(CLI::ExistingFile);
  app.add_option("--app-ms", args.appMs,
                 "how long a board runs its application after its burn before it leaves (default "
                 "3000)")
      ->check(CLI::Range(0u, 3600000u))
      ->needs(boards);
  app.add_option("--app-speaks", args.appSpeaks,
                 "what a burned board's application sends: nmea (a sentence a second at the "
                 "boot ROM's rate; the default) or silent; a failed board is silent")
      ->check(CLI::IsMember({"nmea", "silent"}))
      ->needs(boards);
  app.add_option("--board-gap-ms", args.boardGapMs,
                 "from one board's leaving to the next one's arrival (default 2000)")
      ->check(CLI::Range(0u, 3600000u))
      ->needs(boards);
  app.add_flag("--port-per-board", args.portPerBoard,
               "each board is a pseudo-terminal of its own, named by --link only while the "
               "board is in place")
      ->needs(boards)
      ->needs(app.get_option("--link"));
  const auto numbers = CLI::Range(1u, 1000000u);
  app.add_option("--fail-board", args.failBoards,
                 "fault: board K's loader answers the first image block with a flash error "
                 "(repeatable, or a comma list)")
      ->delimiter(',')
      ->check(numbers)
      ->needs(boards);
  app.add_option("--pull-board", args.pullBoards,
                 "fault: board K leaves at half its image, the line going dead (repeatable, or "
                 "a comma list)")
      ->delimiter(',')
      ->check(numbers)
      ->needs(boards);
  app.add_option("--stuck-board", args.stuckBoards,
                 "fault: board K never leaves; the later boards never come (repeatable, or a "
                 "comma list)")
      ->delimiter(',')
      ->check(numbers)
      ->needs(boards);
  app.add_option("--board-dir", args.boardDir,
                 "as each board leaves, write its flash to DIR/board-K.bin and what it went "
                 "through to DIR/board-K.json")
      ->check(CLI::ExistingDirectory)
      ->needs(boards);
}

// The exit status when the program is done already: 0 after --help or --version, 2 on bad
// usage (as for tarvok); nothing when the chip is to start.
std::optional<int> ParseArgs(int argc, char** argv, SimArgs& args) {
  CLI::App app{"Simulated TR7340 chip on a pseudo-terminal", "tarvok-sim"};
  app.set_version_flag("--version", tarvok::VersionText("tarvok-sim"),
                       "print the version and the RAM loader of this build, and exit");
  AddChipOptions(app, args);
  AddChipFaults(app, args);
  AddWireOptions(app, args);
  AddFixtureOptions(app, args);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "tarvok-sim: %s (see 'tarvok-sim --help')\n", error.what());
    return 2;
  }
  return std::nullopt;
}

// Completes the chip's options from the rest of the arguments and reads the expected image.
// False when that image cannot be read.
bool Prepare(SimArgs& args, std::vector<uint8_t>& expected) {
  tarvok::sim::PtyChipOptions& options = args.options;
  if (!args.ramLoader.empty()) {
    std::ifstream in(args.ramLoader, std::ios::binary);
    options.chip.programInRam.assign(std::istreambuf_iterator<char>(in), {});
  }
  options.chip.flashFill = static_cast<uint8_t>(args.flashFill);
  options.wire.toChip.stallMs = args.stallMs;
  options.wire.toHost.stallMs = args.stallMs;
  if (!args.expectImage.empty() && !ReadFile(args.expectImage, expected)) {
    std::cerr << "tarvok-sim: cannot read " << args.expectImage << "\n";
    return false;
  }
  options.chip.loader.eraseWait = static_cast<uint8_t>(args.eraseWait);
  options.chip.loader.helloMinor = args.loaderVersion == "1.1" ? 1 : 0;
  if (args.replyCode != 0) {
    options.chip.loader.replyCode = static_cast<uint8_t>(args.replyCode);
    options.chip.loader.replyCodeBlock = args.replyCodeBlock;
  }
  if (!args.olderImage.empty() && !ReadFile(args.olderImage, options.chip.flashAtStart)) {
    std::cerr << "tarvok-sim: cannot read " << args.olderImage << "\n";
    return false;
  }
  return true;
}

// The fixture's options from the arguments; false when a board fault names no board of the
// series.
bool PrepareSeries(const SimArgs& args, tarvok::sim::BoardSeriesOptions& series) {
  series.board = args.options;
  tarvok::sim::BoardPlan plan;
  plan.appMs = args.appMs;
  plan.speech =
      args.appSpeaks == "silent" ? tarvok::sim::AppSpeech::kSilent : tarvok::sim::AppSpeech::kNmea;
  series.board.board = plan;
  series.boards = args.boards;
  series.gapMs = args.boardGapMs;
  series.portPerBoard = args.portPerBoard;
  series.link = args.link;
  series.boardDir = args.boardDir;
  const struct {
    const char* option;
    const std::vector<uint32_t>& numbers;
    std::set<uint32_t>& boards;
  } faults[] = {{"--fail-board", args.failBoards, series.failing},
                {"--pull-board", args.pullBoards, series.pulled},
                {"--stuck-board", args.stuckBoards, series.stuck}};
  for (const auto& fault : faults) {
    for (const uint32_t number : fault.numbers) {
      if (number > args.boards) {
        std::cerr << "tarvok-sim: " << fault.option << ": no board " << number << " among "
                  << args.boards << " (see 'tarvok-sim --help')\n";
        return false;
      }
      fault.boards.insert(number);
    }
  }
  return true;
}

// The fixture until its last board has left, or until Ctrl-C or SIGTERM.
int RunFixture(const SimArgs& args) {
  tarvok::sim::BoardSeriesOptions series;
  if (!PrepareSeries(args, series)) {
    return 2;
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGUSR1, OnTakeOut);
  return tarvok::sim::RunBoardSeries(series, interrupted, &takeOut);
}

// Tells the host where the chip is: the path on standard output, and the link if asked for.
void Announce(const tarvok::sim::PtyChip& chip, const std::string& link) {
  if (!link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(chip.Path(), link, ignored);
  }
  std::cout << chip.Path() << std::endl;
}

// Until Ctrl-C or SIGTERM, or with --exit-after-burn until one burn has ended.
void WaitForTheEnd(tarvok::sim::PtyChip& chip, bool exitAfterBurn) {
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  while (!interrupted && !(exitAfterBurn && chip.BurnEnded())) {
    chip.WaitForBurnEnd(100);
  }
  if (!interrupted) {
    // A real chip stays powered after the finish: give the host time to set its port back
    // and close it before the line goes away.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
}

// Stops the chip, prints its report and writes its flash; returns the exit status.
int Finish(tarvok::sim::PtyChip& chip, const SimArgs& args, const std::vector<uint8_t>& expected) {
  chip.Stop();
  const tarvok::sim::ImageCheck check = tarvok::sim::CheckImage(chip.FlashContents(), expected);
  int status = tarvok::sim::PrintReport(chip.Report(), args.expectImage.empty() ? nullptr : &check);
  if (!args.flashFile.empty() && !chip.WriteFlashFile(args.flashFile)) {
    std::cerr << "tarvok-sim: cannot write " << args.flashFile << "\n";
    status = 1;
  }
  if (!args.link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(args.link, ignored);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  SimArgs args;
  if (const std::optional<int> done = ParseArgs(argc, argv, args)) {
    return *done;
  }
  std::vector<uint8_t> expected;
  if (!Prepare(args, expected)) {
    return 2;
  }
  if (args.boards != 0) {
    return RunFixture(args);
  }
  std::string error;
  const auto chip = tarvok::sim::PtyChip::Start(args.options, &error);
  if (!chip) {
    std::cerr << "tarvok-sim: " << error << "\n";
    return 1;
  }
  Announce(*chip, args.link);
  WaitForTheEnd(*chip, args.exitAfterBurn);
  return Finish(*chip, args, expected);
}
