// The tarvok command line against simulated chips on pseudo-terminals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "serial/OpenDevice.h"
#include "sim/PtyChip.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/Subprocess.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::ImageBytes;
using testing::ProcessResult;
using testing::RunProcess;
using Bytes = std::vector<uint8_t>;

class CommandLine : public ::testing::Test {
 protected:
  CommandLine()
      : dir_(fs::temp_directory_path() /
             ("tarvok-cli-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::create_directories(dir_);
  }
  ~CommandLine() override { fs::remove_all(dir_); }

  std::string WriteImage(const std::string& name, const Bytes& bytes) {
    const fs::path file = dir_ / name;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file.string();
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
    if (!args.empty() && args[0] == "burn") {
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
  // Not a terminal: plain lines at the stage change and every 10 %, then the dialog's text.
  EXPECT_NE(result.out.find("COM1001: burning the image into flash\n"), std::string::npos);
  EXPECT_NE(result.out.find("COM1001: 100%"), std::string::npos);
  EXPECT_EQ(result.out.substr(result.out.size() - 25), "Burn Flash Img Success !\n");
}

TEST_F(CommandLine, FailedBurnNamesTheStep) {
  AddChip([](auto& o) {
    o.chip.loader.replyCodeBlock = 1;
    o.chip.loader.replyCode = 6;
  });
  const ProcessResult result = Tarvok({"burn", WriteImage("a.bin", ImageBytes(9000)), "--port",
                                       AddChip().Path(), "--port", "COM1001"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("COM1001:\nBurn Flash Img Fail ! Error=e\nthe image stream failed"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(":\nBurn Flash Img Success !\n"), std::string::npos) << result.out;
}

TEST_F(CommandLine, SeveralChipsAtOnce) {
  const Bytes bytes = ImageBytes(30000, 7);
  AddChip();
  AddChip();
  AddChip();
  const ProcessResult result =
      Tarvok({"burn", WriteImage("a.bin", bytes), "--port", "COM1001", "--port", "COM1002",
              "--port", "COM1003", "--burn-baud", "460800"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  for (const auto& chip : chips_) {
    EXPECT_TRUE(FlashHolds(*chip, bytes));
    EXPECT_TRUE(FinishArrived(*chip));
  }
}

TEST_F(CommandLine, JsonReport) {
  AddChip();
  const std::string image = WriteImage("a.bin", ImageBytes(20000));
  const ProcessResult result = Tarvok({"burn", image, "--port", "COM1001", "--json"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const auto report = nlohmann::json::parse(result.out);  // nothing else on standard output
  EXPECT_EQ(report["status"], 0);
  EXPECT_EQ(report["status_hex"], "0");
  EXPECT_EQ(report["message"], "Burn Flash Img Success !");
  EXPECT_EQ(report["image"]["path"], image);
  EXPECT_EQ(report["image"]["size"], 20000);
  EXPECT_EQ(report["port"], "COM1001");
  EXPECT_EQ(report["rates"]["rom"], 9600);
  EXPECT_EQ(report["rates"]["burn"], 921600);
  EXPECT_GT(report["seconds"]["image_stage"].get<double>(), 0.0);
  EXPECT_EQ(report["seconds"]["loader_stage"].get<double>(), 0.0);  // the loader already ran
  EXPECT_GT(report["bytes_per_second"].get<double>(), 0.0);
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // IMAGE, PORT and BUSY stand for test files and ports
  const char* message;
};

TEST_F(CommandLine, BadInputIsAOneLineErrorAndExit2) {
  const sim::PtyChip& chip = AddChip();
  const std::string good = WriteImage("good.bin", ImageBytes(100));
  const std::string empty = WriteImage("empty.bin", {});
  const std::string tiny = WriteImage("tiny.bin", {1});
  const std::string huge = (dir_ / "huge.bin").string();
  { std::ofstream(huge).put('x'); }
  fs::resize_file(huge, 129ull * 1024 * 1024);
  // A port another program holds.
  const sim::PtyChip& held = AddChip();
  const OpenResult holder = OpenSerialDevice(held.Path());
  ASSERT_NE(holder.device, nullptr);

  const BadInput cases[] = {
      {"missing image",
       {"burn", (dir_ / "none.bin").string(), "--port", chip.Path()},
       "cannot be opened"},
      {"empty image", {"burn", empty, "--port", chip.Path()}, "is empty"},
      {"one byte", {"burn", tiny, "--port", chip.Path()}, "too small"},
      {"directory as image", {"burn", dir_.string(), "--port", chip.Path()}, "not a regular file"},
      {"oversized image", {"burn", huge, "--port", chip.Path()}, "128 MiB"},
      {"missing port",
       {"burn", good, "--port", "/dev/tarvok-nonexistent"},
       "Open/dev/tarvok-nonexistent Failed! (/dev/tarvok-nonexistent: no such device)"},
      {"busy port", {"burn", good, "--port", held.Path()}, "in use by another program"},
      {"unknown COM name", {"burn", good, "--port", "COM77"}, "no port COM77"},
      {"unknown rate", {"burn", good, "--port", chip.Path(), "--burn-baud", "12345"}, "12345"},
      {"unknown parity", {"burn", good, "--port", chip.Path(), "--parity", "weird"}, "weird"},
      {"no port", {"burn", good}, "--port"},
      {"no command", {}, "subcommand"},
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
