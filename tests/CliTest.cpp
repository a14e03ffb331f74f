// The tarvok command line against simulated chips on pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "serial/OpenDevice.h"
#include "serial/PosixBaud.h"
#include "sim/PtyChip.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::ImageBytes;
using testing::ProcessResult;
using testing::RunProcess;
using Bytes = std::vector<uint8_t>;

// The CRC-32 of zlib and Ethernet, worked out bit by bit, as the read-back compares them.
uint32_t Crc32(const Bytes& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (const uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

std::string Crc32Text(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", crc);
  return text;
}

class CommandLine : public ::testing::Test {
 protected:
  CommandLine() : dir_(testing::TestFolder("tarvok-cli")) {}
  ~CommandLine() override { fs::remove_all(dir_); }

  std::string WriteImage(const std::string& name, const Bytes& bytes) {
    return testing::WriteBytes(dir_, name, bytes);
  }
  sim::PtyChip& AddChip(void (*change)(sim::PtyChipOptions&) = nullptr) {
    sim::PtyChipOptions options;
    options.chip.startInLoader = true;
    options.chip.flashBytes = 256 * 1024;
    if (change != nullptr) {
      change(options);
    }
    std::string error;
    chips_.push_back(sim::PtyChip::Start(options, &error));
    EXPECT_NE(chips_.back(), nullptr) << error;
    return *chips_.back();
  }
  // The chips already run their loader, so the burns skip the 8-second loader download
  // (the end-to-end tests cover it).
  ProcessResult Tarvok(std::vector<std::string> args) {
    // A burn that names a loader to download runs the boot-ROM stage, which these chips skip:
    // such a burn is one that fails before any chip is touched.
    if (!args.empty() && args[0] == "burn" &&
        std::find(args.begin(), args.end(), "--loader") == args.end()) {
      args.push_back("--loader-running");
    }
    args.insert(args.begin(), TARVOK_CLI_PATH);
    std::string extra;
    for (const auto& chip : chips_) {
      extra += (extra.empty() ? "" : ":") + chip->Path();
    }
    return RunProcess(args, {"TARVOK_EXTRA_PORTS=" + extra});
  }
  static bool FlashHolds(const sim::PtyChip& chip, const Bytes& bytes) {
    return chip.FlashHolds(bytes);
  }
  // The finish command reached the chip (the program may have ended a moment before the
  // chip's side of the line took it in).
  static bool FinishArrived(sim::PtyChip& chip) {
    chip.WaitForBurnEnd(3000);
    return chip.Report().finishArrived;
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::PtyChip>> chips_;
};

TEST_F(CommandLine, BurnsAndSaysSo) {
  sim::PtyChip& chip = AddChip();
  const Bytes bytes = ImageBytes(40000);
  const ProcessResult result = Tarvok({"burn", WriteImage("a.bin", bytes), "--port", "COM1001"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(FlashHolds(chip, bytes));
  EXPECT_TRUE(FinishArrived(chip));
  // Not a terminal: plain lines at the stage change and every 10 %, then the dialog's text and
  // what the chip confirmed: our loader read its flash back as the image. The loader already
  // ran: no line says it is being loaded.
  EXPECT_EQ(result.out.find("loading the RAM loader"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("COM1001: burning the image into flash\n"), std::string::npos);
  const std::string success =
      "Burn Flash Img Success !\nthe flash reads back as the image (CRC-32 " +
      Crc32Text(Crc32(bytes)) + ")\n";
  ASSERT_GT(result.out.size(), success.size());
  EXPECT_EQ(result.out.substr(result.out.size() - success.size()), success);
  // The image stage took less than the one-second tick: the last line shows its average
  // speed, and comes once.
  const size_t last = result.out.find("COM1001: 100%");
  ASSERT_NE(last, std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("COM1001: 100%", last + 1), std::string::npos) << result.out;
  const std::string lastLine = result.out.substr(last, result.out.find('\n', last) - last);
  EXPECT_EQ(lastLine.substr(lastLine.size() - 4), "KBps") << lastLine;
}

TEST_F(CommandLine, FailedBurnNamesTheStep) {
  AddChip([](auto& o) {
    o.chip.loader.replyCodeBlock = 1;
    o.chip.loader.replyCode = 6;
  });
  const std::string good = AddChip().Path();
  AddChip([](auto& o) { o.wire.hangUpAfterBlocks = 5; });  // COM1003
  // A port that cannot be opened fails on its own; the other chips are burned.
  const Bytes bytes = ImageBytes(9000);
  const ProcessResult result =
      Tarvok({"burn", WriteImage("a.bin", bytes), "--port", good, "--port", "COM1001", "--port",
              "COM1003", "--port", "/dev/tarvok-nonexistent"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("COM1001:\nBurn Flash Img Fail ! Error=e\nthe image stream failed: "
                            "the loader reported a flash error"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.err.find("tarvok: Open/dev/tarvok-nonexistent Failed! "
                            "(/dev/tarvok-nonexistent: no such device)\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.out.find("COM1003:\nBurn Flash Img Fail ! Error=e\nthe port went away"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(good + ":\nBurn Flash Img Success !\nthe flash reads back as the " +
                            "image (CRC-32 " + Crc32Text(Crc32(bytes)) + ")\n"),
            std::string::npos)
      << result.out;
}

TEST_F(CommandLine, SeveralChipsAtOnce) {
  const Bytes bytes = ImageBytes(30000, 7);
  AddChip();
  AddChip();
  AddChip();
  const ProcessResult result =
      Tarvok({"burn", WriteImage("a.bin", bytes), "--port", "COM1001", "--port", "COM1002",
              "--port", "COM1003", "--burn-baud", "460800", "--parity", "odd"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  // A pseudo-terminal has no parity: one warning line per port says so, and the burns go on.
  std::size_t warnings = 0;
  for (std::size_t at = 0;
       (at = result.err.find("parity odd (it uses none)\n", at)) != std::string::npos; ++at) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 3u) << result.err;
  for (const auto& chip : chips_) {
    EXPECT_TRUE(FlashHolds(*chip, bytes));
    EXPECT_TRUE(FinishArrived(*chip));
  }
}

TEST_F(CommandLine, JsonReport) {
  const sim::PtyChip& chip = AddChip();
  // File names are bytes: these two are not UTF-8, and the report must still be written.
  const Bytes bytes = ImageBytes(20000);
  const std::string image = WriteImage("image-\xff.bin", bytes);
  const std::string port = (dir_ / "port-\xfe").string();
  fs::create_symlink(chip.Path(), port);
  const std::string replaced = "\xEF\xBF\xBD";  // U+FFFD
  const ProcessResult result = Tarvok({"burn", image, "--port", port, "--json"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const auto report = nlohmann::json::parse(result.out);  // nothing else on standard output
  EXPECT_EQ(report["result"], "success");
  EXPECT_EQ(report["status"], 0);
  EXPECT_EQ(report["status_hex"], "0");
  EXPECT_EQ(report["message"], "Burn Flash Img Success !");
  EXPECT_EQ(report["explanation"],
            "the flash reads back as the image (CRC-32 " + Crc32Text(Crc32(bytes)) + ")");
  EXPECT_EQ(report["image"]["path"], (dir_ / ("image-" + replaced + ".bin")).string());
  EXPECT_EQ(report["image"]["size"], 20000);
  EXPECT_EQ(report["port"], (dir_ / ("port-" + replaced)).string());
  EXPECT_EQ(report["rates"]["rom"], 9600);
  EXPECT_EQ(report["rates"]["burn"], 921600);
  EXPECT_GT(report["seconds"]["image_stage"].get<double>(), 0.0);
  EXPECT_EQ(report["seconds"]["loader_stage"].get<double>(), 0.0);  // the loader already ran
  EXPECT_GE(report["seconds"]["total"].get<double>(), report["seconds"]["image_stage"]);
  EXPECT_GT(report["bytes_per_second"].get<double>(), 0.0);
  // The loader already ran: no boot stage brought it in. Our loader read the flash back as the
  // image, both CRC-32s given.
  EXPECT_EQ(report["boot_stage"], false);
  EXPECT_EQ(report["read_back"], "matched");
  EXPECT_EQ(report["image_crc32"], Crc32Text(Crc32(bytes)));
  EXPECT_EQ(report["flash_crc32"], report["image_crc32"]);
  EXPECT_GE(report["seconds"]["read_back"].get<double>(), 0.0);
  // --classic never asks.
  const ProcessResult classic =
      Tarvok({"burn", image, "--port", AddChip().Path(), "--json", "--classic"});
  EXPECT_EQ(classic.exitCode, 0) << classic.err;
  const auto unasked = nlohmann::json::parse(classic.out);
  EXPECT_EQ(unasked["read_back"], "not asked");
  EXPECT_TRUE(unasked["image_crc32"].is_null());
  EXPECT_TRUE(unasked["flash_crc32"].is_null());

  // A chip that never greets: no stage begins, yet the run took the host's wait for the hello
  // (a read time-out of 510 ms), and the total says so.
  const sim::PtyChip& silent = AddChip([](auto& o) { o.chip.silent = true; });
  const ProcessResult failed = Tarvok({"burn", image, "--port", silent.Path(), "--json"});
  EXPECT_EQ(failed.exitCode, 1);
  const auto failure = nlohmann::json::parse(failed.out);
  EXPECT_EQ(failure["result"], "failure");
  EXPECT_EQ(failure["status"], 8);
  EXPECT_EQ(failure["seconds"]["image_stage"].get<double>(), 0.0);
  EXPECT_GE(failure["seconds"]["total"].get<double>(), 0.5);
  EXPECT_NE(failure["explanation"].get<std::string>().find("greets only once"), std::string::npos)
      << failure["explanation"];
  EXPECT_EQ(failure["read_back"], "not asked");
  EXPECT_TRUE(failure["flash_crc32"].is_null());

  // With several ports, one that cannot be opened is a failed port in the report, not a
  // reason to burn none; and a report that cannot be written is an error, not silence.
  const ProcessResult mixed = Tarvok(
      {"burn", image, "--port", AddChip().Path(), "--port", "/dev/tarvok-nonexistent", "--json"});
  EXPECT_EQ(mixed.exitCode, 1) << mixed.err;
  const auto reports = nlohmann::json::parse(mixed.out)["results"];
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0]["result"], "success");
  EXPECT_EQ(reports[1]["result"], "failure");
  EXPECT_EQ(reports[1]["status"], 3);
  EXPECT_EQ(reports[1]["message"], "Open/dev/tarvok-nonexistent Failed!");
  const ProcessResult full =
      RunProcess({"/bin/bash", "-c", "\"$0\" \"$@\" >/dev/full", TARVOK_CLI_PATH, "burn", image,
                  "--port", AddChip().Path(), "--json", "--loader-running"});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("tarvok: the JSON report could not be written"), std::string::npos)
      << full.err;
}

// A burn stopped by SIGINT or SIGTERM: it ends at the next byte boundary, the port goes back
// to the boot ROM's rate, the port's line and the JSON say it was interrupted, exit 130.
TEST_F(CommandLine, SignalStopsTheBurnAndSaysSo) {
  const std::string image = WriteImage("a.bin", ImageBytes(256 * 1024));
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    sim::PtyChip& chip = AddChip([](auto& o) { o.wire.throttle = true; });
    // The tty keeps its settings after tarvok has closed it; this looks at them from the side.
    const int watcher = open(chip.Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(watcher, 0);
    testing::BackgroundProcess tarvok({TARVOK_CLI_PATH, "burn", image, "--port", chip.Path(),
                                       "--burn-baud", "115200", "--loader-running", "--json"},
                                      true);
    std::string line;
    while ((line = tarvok.ReadErrorLine()).find("burning the image into flash") ==
           std::string::npos) {
      ASSERT_FALSE(line.empty()) << "the burn ended before the image stage";
    }
    tarvok.Signal(signal);
    const std::string out = tarvok.ReadRest();
    const std::string err = tarvok.ReadErrorRest();
    EXPECT_EQ(tarvok.Wait(10000), 130) << err;
    EXPECT_NE(err.find(chip.Path() + ": the burn was interrupted: the chip needs a power cycle "
                                     "before the next burn\n"),
              std::string::npos)
        << err;
    const auto report = nlohmann::json::parse(out);
    EXPECT_EQ(report["result"], "interrupted");
    EXPECT_EQ(report["message"], "the burn was interrupted");
    uint32_t rate = 0;
    EXPECT_TRUE(GetTtyBaudRate(watcher, rate));
    EXPECT_EQ(rate, 9600u);  // not left at the burn rate of 115200
    close(watcher);
    EXPECT_FALSE(FlashHolds(chip, ImageBytes(256 * 1024)));
  }
}

// `tarvok burn ... | head -c 1`: the reader goes away early, the burn goes on to the end.
TEST_F(CommandLine, AReaderThatGoesAwayDoesNotStopTheBurn) {
  const sim::PtyChip& chip = AddChip([](auto& o) { o.wire.throttle = true; });
  const Bytes bytes = ImageBytes(64 * 1024, 3);
  const ProcessResult result =
      RunProcess({"/bin/bash", "-c", "\"$0\" \"$@\" | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}",
                  TARVOK_CLI_PATH, "burn", WriteImage("a.bin", bytes), "--port", chip.Path(),
                  "--loader-running"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(FlashHolds(chip, bytes));
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;
  std::string message;
};

TEST_F(CommandLine, BadInputIsAOneLineErrorAndExit2) {
  const sim::PtyChip& chip = AddChip();
  const std::string good = WriteImage("good.bin", ImageBytes(100));
  const std::string empty = WriteImage("empty.bin", {});
  const std::string tiny = WriteImage("tiny.bin", {1});
  const std::string huge = (dir_ / "huge.bin").string();
  { std::ofstream(huge).put('x'); }
  fs::resize_file(huge, 129ull * 1024 * 1024);
  const std::string badHex = WriteImage(
      "bad.hex", Bytes{':',  '0', '4', '0', '0', '0', '0',  '0', '0', '1', '1', '2', '2',
                       '3',  '3', '4', '4', '5', '2', '\n', ':', '0', '4', '0', '0', '0',
                       '4',  '0', '0', '1', '1', '2', '2',  '3', '3', '4', '4', '0', '0',
                       '\n', ':', '0', '0', '0', '0', '0',  '0', '0', '1', 'F', 'F', '\n'});
  const std::string busHex =
      WriteImage("bus.hex", Bytes{':', '0', '2', '0',  '0', '0', '0', '0', '4', '1', '0', '0',
                                  '0', 'E', 'A', '\n', ':', '0', '4', '0', '0', '0', '0', '0',
                                  '0', '1', '1', '2',  '2', '3', '3', '4', '4', '5', '2', '\n',
                                  ':', '0', '0', '0',  '0', '0', '0', '0', '1', 'F', 'F', '\n'});
  const std::string fifo = (dir_ / "fifo.bin").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string bigLoader = WriteImage("big-loader.bin", Bytes(0x10000 - 0xC00 + 1, 0));
  const std::string loader = WriteImage("loader.bin", ImageBytes(300));
  const std::string stage = WriteImage("stage.bin", ImageBytes(256));
  const std::string bigStage = WriteImage("big-stage.bin", ImageBytes(257));
  // A port another program holds.
  const sim::PtyChip& held = AddChip();
  const OpenResult holder = OpenSerialDevice(held.Path());
  ASSERT_NE(holder.device, nullptr);

  const std::string log = (dir_ / "station.jsonl").string();
  const std::string goneLog = (dir_ / "gone" / "station.jsonl").string();

  const BadInput cases[] = {
      {"missing image",
       {"burn", (dir_ / "none.bin").string(), "--port", chip.Path()},
       "cannot be opened"},
      {"empty image", {"burn", empty, "--port", chip.Path()}, "is empty"},
      {"one byte", {"burn", tiny, "--port", chip.Path()}, "too small"},
      {"directory as image", {"burn", dir_.string(), "--port", chip.Path()}, "not a regular file"},
      {"FIFO as image (no writer: opening it would wait forever)",
       {"burn", fifo, "--port", chip.Path()},
       "not a regular file"},
      {"oversized image", {"burn", huge, "--port", chip.Path()}, "128 MiB"},
      {"flash base that is no address",
       {"burn", good, "--port", chip.Path(), "--flash-base", "0x1000z"},
       "--flash-base: '0x1000z' is not an address (decimal, or hexadecimal as 0x...)"},
      {"HEX linked at the flash's bus address, without --flash-base",
       {"image", busHex},
       "line 2: bytes at 0x10000000 to 0x10000003 lie beyond the flash's 128 MiB; a file linked "
       "for the chip's bus addresses needs --flash-base 0x10000000"},
      {"HEX record with a wrong checksum",
       {"burn", badHex, "--port", chip.Path()},
       "tarvok: image " + badHex +
           " line 2: the checksum is 0x00 where the record's bytes need "
           "0x4E"},
      {"missing port",
       {"burn", good, "--port", "/dev/tarvok-nonexistent"},
       "Open/dev/tarvok-nonexistent Failed! (/dev/tarvok-nonexistent: no such device)"},
      {"busy port", {"burn", good, "--port", held.Path()}, "in use by another program"},
      {"unknown COM name", {"burn", good, "--port", "COM77"}, "no port COM77"},
      {"empty port name", {"burn", good, "--port", ""}, "--port: an empty name"},
      {"a bare word, no COM name and no path",
       {"burn", good, "--port", "foo1001"},
       "no port foo1001"},
      {"one port twice, by path and by COM name",
       {"burn", good, "--port", chip.Path(), "--port", "COM1001"},
       "are the same port"},
      {"one port twice, its COM name in two cases",
       {"burn", good, "--port", "COM1001", "--port", "com1001"},
       "are the same port"},
      {"missing loader",
       {"burn", good, "--port", chip.Path(), "--loader", (dir_ / "none.bin").string()},
       "cannot be opened"},
      {"empty loader", {"burn", good, "--port", chip.Path(), "--loader", empty}, "is empty"},
      {"oversized loader",
       {"burn", good, "--port", chip.Path(), "--loader", bigLoader},
       "the boot ROM can load at most 62464"},
      {"a boot stage for the built-in loader, which brings its own",
       {"burn", good, "--port", chip.Path(), "--boot-stage", stage},
       "tarvok: --boot-stage needs --loader: the built-in loader brings its own boot stage "
       "(see 'tarvok burn --help')"},
      {"empty boot stage",
       {"burn", good, "--port", chip.Path(), "--loader", loader, "--boot-stage", empty},
       "tarvok: boot stage " + empty + " is empty"},
      {"a boot stage past one write of the boot ROM",
       {"burn", good, "--port", chip.Path(), "--loader", loader, "--boot-stage", bigStage},
       "tarvok: boot stage " + bigStage + " has 257 bytes; a boot stage has at most 256"},
      {"a boot stage --classic would leave unused",
       {"burn", good, "--port", chip.Path(), "--loader", loader, "--boot-stage", stage,
        "--classic"},
       "--boot-stage excludes --classic (see 'tarvok burn --help')"},
      {"unknown rate", {"burn", good, "--port", chip.Path(), "--burn-baud", "12345"}, "12345"},
      {"unknown parity",
       {"burn", good, "--port", chip.Path(), "--parity", "weird"},
       "weird not in {none,odd,even,mark,space} (see 'tarvok burn --help')"},
      {"no port", {"burn", good}, "--port"},
      {"no command",
       {},
       "tarvok: a command is required: burn, station or ports (see 'tarvok --help')"},
      {"one argument too many",
       {"burn", good, "extra.bin", "--port", chip.Path()},
       "tarvok: unexpected argument extra.bin (see 'tarvok burn --help')"},
      {"unknown option", {"--frobnicate"}, "tarvok: unknown option --frobnicate"},
      {"unknown burn option",
       {"burn", good, "--port", chip.Path(), "--frobnicate"},
       "tarvok: unknown option --frobnicate (see 'tarvok burn --help')"},
      {"a loader to download for a loader already running",
       {"burn", good, "--port", chip.Path(), "--loader", empty, "--loader-running"},
       "--loader excludes --loader-running"},
      {"unknown command", {"frobnicate"}, "unknown command frobnicate (see 'tarvok --help')"},
      {"a station's rate out of the table",
       {"station", good, "--port", chip.Path(), "--log", log, "--burn-baud", "12345"},
       "tarvok: --burn-baud: 12345 not in {115200,230400,460800,921600} (see 'tarvok station "
       "--help')"},
      {"a station's log in a missing folder, with unit numbers beside it",
       {"station", good, "--port", chip.Path(), "--log", goneLog, "--unit-offset", "0",
        "--unit-first", "1"},
       "tarvok: log " + goneLog + " cannot be used: its folder " + (dir_ / "gone").string() +
           " does not exist\n"},
      {"a station's first unit number without an offset",
       {"station", good, "--port", chip.Path(), "--log", log, "--unit-first", "1"},
       "tarvok: --unit-first needs --unit-offset"},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult result = Tarvok(c.args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
}

// An image made by objcopy from a binary, as Intel HEX, S-record or a linked ELF file, burns
// the binary's bytes; where the file places them past 0, the flash before them is erased.
TEST_F(CommandLine, HexSRecordAndElfBurnAsTheirBinary) {
  const std::string objcopy = TARVOK_OBJCOPY_PATH;
  const std::string linker = TARVOK_LD_PATH;
  if (objcopy.empty() || linker.empty()) {
    GTEST_SKIP() << "arm-none-eabi-objcopy or arm-none-eabi-ld is missing";
  }
  const Bytes bytes = ImageBytes(20000, 9);
  const std::string bin = WriteImage("fw.bin", bytes);
  const std::string object = (dir_ / "fw.o").string();
  const struct {
    const char* name;
    std::vector<std::vector<std::string>> commands;  // the last writes the image
    uint32_t at;                                     // where the bytes go in flash
    const char* flashBase = "0";
  } cases[] = {
      {"fw.hex", {{objcopy, "-I", "binary", "-O", "ihex", bin}}, 0},
      {"fw.srec", {{objcopy, "-I", "binary", "-O", "srec", bin}}, 0},
      {"fw.elf",
       {{objcopy, "-I", "binary", "-O", "elf32-littlearm", "-B", "arm", bin, object},
        {linker, "--section-start=.data=0", "-e", "0", object, "-o"}},
       0},
      {"gap.hex",
       {{objcopy, "-I", "binary", "-O", "ihex", "--change-addresses", "0x1000", bin}},
       0x1000},
      {"bus.srec",
       {{objcopy, "-I", "binary", "-O", "srec", "--change-addresses", "0x10000400", bin}},
       0x400,
       "0x10000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = (dir_ / c.name).string();
    for (std::vector<std::string> command : c.commands) {
      if (command.back() != object) {
        command.push_back(image);
      }
      const ProcessResult made = RunProcess(command);
      ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    sim::PtyChip& chip = AddChip();
    const ProcessResult result =
        Tarvok({"burn", image, "--port", chip.Path(), "--flash-base", c.flashBase});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    Bytes expected(c.at, 0xFF);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    EXPECT_TRUE(FlashHolds(chip, expected));
    EXPECT_NE(result.out.find("(CRC-32 " + Crc32Text(Crc32(expected)) + ")"), std::string::npos)
        << result.out;
    // What `tarvok image` says a burn writes is what went into the flash, digests and all.
    const ProcessResult sum = RunProcess({"/usr/bin/sha256sum", WriteImage("flat.bin", expected)});
    const ProcessResult shown = Tarvok({"image", image, "--flash-base", c.flashBase});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("CRC-32  " + Crc32Text(Crc32(expected)) + "\nSHA-256 " +
                             sum.out.substr(0, 64) + "\n"),
              std::string::npos)
        << shown.out;
    EXPECT_EQ(shown.out.find("of 0xFF (gap)") != std::string::npos, c.at != 0) << shown.out;
    chips_.clear();
  }
}

// The two programs as a user runs them: tarvok-sim on its pseudo-terminal, tarvok burning
// into it, and the flash file the simulated chip leaves behind.
TEST_F(CommandLine, BurnsIntoTheSimulatorProgram) {
  const std::string flashFile = (dir_ / "flash.bin").string();
  const Bytes bytes = ImageBytes(12345, 5);
  const std::string image = WriteImage("a.bin", bytes);
  // Adapter latency on the chip's answers, and the chip's own verdict on the burn: it exits
  // by itself only once the finish has arrived, and with 0 only when its flash holds the image.
  testing::BackgroundProcess simulator({TARVOK_SIM_PATH, "--start-in-loader", "--exit-after-burn",
                                        "--flash-size", "65536", "--flash-file", flashFile,
                                        "--latency-ms", "16", "--expect-image", image});
  const std::string pty = simulator.ReadLine();
  ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
  const ProcessResult result =
      RunProcess({TARVOK_CLI_PATH, "burn", image, "--port", pty, "--loader-running"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(simulator.ReadLine(), "finish: arrived");
  EXPECT_EQ(simulator.Wait(10000), 0);
  std::ifstream in(flashFile, std::ios::binary);
  const Bytes flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(flash.size(), 65536u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
  EXPECT_EQ(flash[12345], 0xFF);  // erased, never programmed
}

// --loader downloads the file instead of the embedded loader: our firmware burns through the
// simulated chip's emulated CPU (tarvok-sim --cpu); a block that is no loader gets no hello.
TEST_F(CommandLine, LoaderFromAFile) {
  const struct {
    const char* name;
    std::string loader;
    int exitCode;
    bool flashHoldsImage;
  } cases[] = {
      {"our firmware", TARVOK_FIRMWARE_BLOCK, 0, true},
      {"zeros", WriteImage("zeros.bin", Bytes(260, 0)), 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string flashFile = (dir_ / "flash.bin").string();
    testing::BackgroundProcess simulator({TARVOK_SIM_PATH, "--cpu", "--exit-after-burn",
                                          "--flash-size", "65536", "--flash-file", flashFile});
    const std::string pty = simulator.ReadLine();
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
    const Bytes bytes = ImageBytes(12345, 6);
    const ProcessResult result = RunProcess(
        {TARVOK_CLI_PATH, "burn", WriteImage("a.bin", bytes), "--port", pty, "--loader", c.loader});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (c.flashHoldsImage) {
      EXPECT_EQ(simulator.Wait(10000), 0);
      std::ifstream in(flashFile, std::ios::binary);
      const Bytes flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_TRUE(flash.size() >= bytes.size() &&
                  std::equal(bytes.begin(), bytes.end(), flash.begin()));
    }
  }
}

// --version names the loader the build embeds by its size and the start of its SHA-256, as
// coreutils works them out from the loader file, and the boot stage the same way.
TEST_F(CommandLine, VersionNamesTheEmbeddedLoader) {
  const ProcessResult sha256 = RunProcess({"/usr/bin/sha256sum", TARVOK_EMBEDDED_LOADER});
  ASSERT_EQ(sha256.exitCode, 0) << sha256.err;
  const std::string loader =
      "RAM loader: " + std::to_string(fs::file_size(TARVOK_EMBEDDED_LOADER)) + " bytes, SHA-256 " +
      sha256.out.substr(0, 12) + "\n";
  // Then the boot stage, by the same two facts.
  const std::regex stage("boot stage: [1-9][0-9]* bytes, SHA-256 [0-9a-f]{12}\n");
  const struct {
    const char* path;
    const char* name;
  } programs[] = {{TARVOK_CLI_PATH, "tarvok"}, {TARVOK_SIM_PATH, "tarvok-sim"}};
  for (const auto& program : programs) {
    SCOPED_TRACE(program.name);
    const ProcessResult result = RunProcess({program.path, "--version"});
    EXPECT_EQ(result.exitCode, 0);
    const std::string head = std::string(program.name) + " " TARVOK_PROJECT_VERSION "\n" + loader;
    ASSERT_EQ(result.out.substr(0, head.size()), head);
    EXPECT_TRUE(std::regex_match(result.out.substr(head.size()), stage)) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }
}

// A station file naming last week's image is refused before any port is opened; an option
// given on the command line overrides the file's and says so.
TEST_F(CommandLine, StationFileWithAnotherImageTouchesNoPort) {
  const sim::PtyChip& chip = AddChip();
  const std::string image = WriteImage("release.bin", ImageBytes(4096, 3));
  const std::string otherSha(64, 'a');
  const std::string stationFile = (dir_ / "line3.toml").string();
  std::ofstream(stationFile) << "log = \"line3.jsonl\"\n"
                                "[image]\npath = \"release.bin\"\nsha256 = \""
                             << otherSha
                             << "\"\n"
                                "[line]\nburn_baud = 921600\n"
                                "[[port]]\nname = \""
                             << chip.Path() << "\"\nboard = \"dsr\"\n";
  const std::string refusal = "tarvok: station file " + stationFile + ", line 3: image " + image +
                              " is not the expected one: its SHA-256 is ";
  const struct {
    const char* name;
    std::vector<std::string> extra;
    std::vector<std::string> lines;  // on stderr, in order
  } cases[] = {
      {"from the file alone", {}, {refusal}},
      {"with a faster rate",
       {"--burn-baud", "460800"},
       {"tarvok: --burn-baud 460800 overrides the station file's 921600\n", refusal}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"station", "--station", stationFile};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ProcessResult result = Tarvok(args);
    EXPECT_EQ(result.exitCode, 2);
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      at = result.err.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << " in " << result.err;
    }
    EXPECT_NE(result.err.find(", not " + otherSha + "; nothing was burned\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'),
              static_cast<std::ptrdiff_t>(c.lines.size()))
        << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_EQ(chip.BytesFromHost(), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "line3.jsonl"));
  }
}

#ifdef TARVOK_STATION_WINDOW_PATH
// The station window takes its values through the same table as `tarvok station`: what one
// refuses, the other refuses too, before any port is opened or the log is made.
TEST_F(CommandLine, TheStationWindowRefusesWhatTheCommandLineRefuses) {
  const sim::PtyChip& chip = AddChip();
  const std::string image = WriteImage("release.bin", ImageBytes(4096, 3));
  const std::string log = (dir_ / "line3.jsonl").string();
  const struct {
    const char* name;
    std::vector<std::string> extra;
    std::string windowMessage;
  } cases[] = {
      {"a burn rate out of the table",
       {"--burn-baud", "12345"},
       "--burn-baud 12345 is not one of 115200, 230400, 460800, 921600"},
      {"a boot ROM rate out of the table",
       {"--rom-baud", "19200"},
       "--rom-baud 19200 is not one of 9600, 115200"},
      {"a count that is no number",
       {"--max-failures", "-1"},
       "--max-failures -1 is not a number from 0 to 1000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {image, "--port", chip.Path(), "--log", log};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    std::vector<std::string> station = {"station"};
    station.insert(station.end(), args.begin(), args.end());
    // No display: the refusal goes to standard error alone, with no box to wait on.
    std::vector<std::string> window = {
        "/usr/bin/env",    "-u", "DISPLAY",         "-u",
        "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", TARVOK_STATION_WINDOW_PATH};
    window.insert(window.end(), args.begin(), args.end());
    const ProcessResult fromCommandLine = Tarvok(station);
    const ProcessResult fromWindow = RunProcess(window);
    EXPECT_EQ(fromCommandLine.exitCode, 2) << fromCommandLine.err;
    EXPECT_EQ(fromWindow.exitCode, 2) << fromWindow.err;
    EXPECT_EQ(fromWindow.err, "tarvok-station: " + c.windowMessage + "\n");
    EXPECT_EQ(chip.BytesFromHost(), 0u);
    EXPECT_FALSE(fs::exists(log));
  }
}
#endif

TEST_F(CommandLine, ListsPorts) {
  const sim::PtyChip& chip = AddChip();
  const ProcessResult result = Tarvok({"ports"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("COM1001\t" + chip.Path() + "\tfrom TARVOK_EXTRA_PORTS\n"),
            std::string::npos)
      << result.out;
}

}  // namespace
}  // namespace tarvok
