// tarvok-sim: a simulated TR7340 on a pseudo-terminal. Prints the path to open as the serial
// port, answers as the chip would, and at the end says whether the finish arrived and whether
// the flash holds the image, and writes its flash contents to a file.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "sim/PtyChip.h"
#include "version/VersionText.h"

namespace {

std::atomic<bool> interrupted{false};

void OnSignal(int) {
  interrupted = true;
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

}  // namespace

int main(int argc, char** argv) {
  using tarvok::sim::PtyChipOptions;
  PtyChipOptions options;
  std::string flashFile;
  std::string link;
  std::string loaderVersion = "1.0";
  bool exitAfterBurn = false;
  uint32_t replyCodeBlock = 0;
  int replyCode = 0;
  int eraseWait = 0;
  int flashFill = 0;
  uint32_t stallMs = 100;
  std::string expectImage;

  CLI::App app{"Simulated TR7340 chip on a pseudo-terminal", "tarvok-sim"};
  app.set_version_flag("--version", tarvok::VersionText("tarvok-sim"),
                       "print the version and the RAM loader of this build, and exit");
  app.add_option("--rom-baud", options.chip.romRate, "rate of the running chip and its boot ROM")
      ->check(CLI::IsMember({9600, 115200}));
  app.add_option("--flash-file", flashFile, "write the flash contents here when the burn ends");
  app.add_option("--flash-size", options.chip.flashBytes, "flash size in bytes")
      ->check(CLI::Range(4096u, 256u * 1024 * 1024));
  app.add_option("--flash-fill", flashFill, "what the flash holds before the burn (0-255)")
      ->check(CLI::Range(0, 255));
  app.add_option("--link", link, "also make a symbolic link to the pseudo-terminal here");
  app.add_flag("--exit-after-burn", exitAfterBurn, "stop when one burn has ended");
  app.add_flag("--throttle", options.wire.throttle, "carry bytes at the line's baud rate");
  app.add_flag("--cpu", options.chip.cpu,
               "run the downloaded loader on an emulated ARM926 instead of the C++ model");
  std::string ramLoader;
  app.add_option("--ram-loader", ramLoader,
                 "with --cpu --start-in-loader: the loader binary already in RAM at 0xC00")
      ->check(CLI::ExistingFile);
  app.add_flag("--start-in-loader", options.chip.startInLoader,
               "the loader already runs and says hello (skips the loader download)");
  app.add_flag("--silent", options.chip.silent, "fault: never answer");
  app.add_flag("--no-handshake", options.chip.noHandshake, "fault: boot ROM ignores the handshake");
  app.add_flag("--wrong-echo", options.chip.wrongEcho, "fault: boot ROM garbles a download echo");
  app.add_flag("--wrong-checksum", options.chip.wrongChecksum, "fault: boot ROM checksum is off");
  app.add_option("--reject-block", options.chip.loader.rejectBlock, "fault: reject this block...");
  app.add_option("--reject-times", options.chip.loader.rejectTimes, "...this many times in a row");
  app.add_option("--reply-code", replyCode, "fault: answer a block with 5, 6 or 7")
      ->check(CLI::IsMember({5, 6, 7}));
  app.add_option("--reply-block", replyCodeBlock, "the block --reply-code answers (default 0)");
  app.add_flag("--final-failure", options.chip.loader.finalFailure,
               "fault: end the stream with 0xB6");
  app.add_option("--loader-version", loaderVersion, "version the loader announces")
      ->check(CLI::IsMember({"1.0", "1.1"}));
  app.add_flag("--busy-hello", options.chip.loader.busyInsteadOfHello,
               "fault: 0x1C instead of hello");
  app.add_option("--erase-wait", eraseWait, "the loader's erase-wait byte")
      ->check(CLI::Range(0, 255));
  app.add_flag("--skip-erase", options.chip.loader.skipErase,
               "fault: acknowledge but do not erase");
  app.add_option("--latency-ms", options.wire.latencyMs,
                 "bytes to the host leave in bursts every N ms (a USB adapter's latency timer)")
      ->check(CLI::Range(0u, 1000u));
  AddLineFaults(app, "chip", options.wire.toChip);
  AddLineFaults(app, "host", options.wire.toHost);
  app.add_option("--stall-ms", stallMs, "how long a stall lasts (both directions)")
      ->check(CLI::Range(0u, 60000u));
  app.add_option("--seed", options.wire.seed, "seed of the line's faults");
  app.add_option("--expect-image", expectImage,
                 "at the end, check the flash against this image file (exit 3 when it differs "
                 "or the finish never arrived)");
  app.add_flag("--trace", options.wire.trace, "print every byte crossing the wire on stderr");
  app.add_option("--hang-up-after-blocks", options.wire.hangUpAfterBlocks,
                 "fault: the line goes dead after this many blocks");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);  // --help, --version
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "tarvok-sim: %s (see 'tarvok-sim --help')\n", error.what());
    return 2;  // bad usage, as for tarvok
  }

  if (!ramLoader.empty()) {
    std::ifstream in(ramLoader, std::ios::binary);
    options.chip.programInRam.assign(std::istreambuf_iterator<char>(in), {});
  }
  options.chip.flashFill = static_cast<uint8_t>(flashFill);
  options.wire.toChip.stallMs = stallMs;
  options.wire.toHost.stallMs = stallMs;
  std::vector<uint8_t> expected;
  if (!expectImage.empty() && !ReadFile(expectImage, expected)) {
    std::cerr << "tarvok-sim: cannot read " << expectImage << "\n";
    return 2;
  }
  options.chip.loader.eraseWait = static_cast<uint8_t>(eraseWait);
  options.chip.loader.helloMinor = loaderVersion == "1.1" ? 1 : 0;
  if (replyCode != 0) {
    options.chip.loader.replyCode = static_cast<uint8_t>(replyCode);
    options.chip.loader.replyCodeBlock = replyCodeBlock;
  }

  std::string error;
  const auto chip = tarvok::sim::PtyChip::Start(options, &error);
  if (!chip) {
    std::cerr << "tarvok-sim: " << error << "\n";
    return 1;
  }
  if (!link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(chip->Path(), link, ignored);
  }
  std::cout << chip->Path() << std::endl;

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  while (!interrupted && !(exitAfterBurn && chip->BurnEnded())) {
    chip->WaitForBurnEnd(100);
  }
  if (!interrupted) {
    // A real chip stays powered after the finish: give the host time to set its port back
    // and close it before the line goes away.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  chip->Stop();
  int status =
      tarvok::sim::PrintReport(chip->Report(), !expectImage.empty(), chip->FlashHolds(expected));
  if (!flashFile.empty() && !chip->WriteFlashFile(flashFile)) {
    std::cerr << "tarvok-sim: cannot write " << flashFile << "\n";
    status = 1;
  }
  if (!link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
  }
  return status;
}
