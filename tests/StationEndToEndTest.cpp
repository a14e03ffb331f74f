// tarvok station against tarvok-sim as a production fixture, on real pseudo-terminals: boards
// that arrive, are burned once each, recorded, and leave; the station's faults and refusals.
// Every wait is on a file or a process, bounded; every process is killed at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/SerialServer.h"
#include "tests/support/SimBoardFiles.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::FileText;
using testing::ImageBytes;
using testing::ProcessResult;
using testing::RunProcess;
using Bytes = std::vector<uint8_t>;
using Json = nlohmann::json;

constexpr uint32_t kFlashBytes = 65536;
constexpr uint32_t kImageBytes = 6000;
constexpr uint32_t kUnitOffset = 0x100;
// A board's port is away this long between boards: the station looks at its ports five times
// a second, but not while it writes its log (durably, so at the disk's pace).
constexpr const char* kPortGapMs = "2000";
// Bounds on waits that normally end in seconds: reached only when something is wrong.
constexpr int kLongWaitMs = 120000;
constexpr int kExitWaitMs = 30000;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// Waits until `file` holds `what` at least `times` times; false after `timeoutMs`.
bool WaitForText(const fs::path& file, const std::string& what, std::size_t times = 1,
                 int timeoutMs = kLongWaitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Occurrences(FileText(file), what) < times) {
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Waits until `file` holds one of `texts`; the first that it holds, or "" after `timeoutMs`.
std::string WaitForOneOf(const fs::path& file, const std::vector<std::string>& texts,
                         int timeoutMs = kLongWaitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    const std::string text = FileText(file);
    for (const std::string& wanted : texts) {
      if (text.find(wanted) != std::string::npos) {
        return wanted;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return {};
}

// The log's lines, each parsed; a line that is not whole JSON parses as discarded.
std::vector<Json> LogLines(const fs::path& log) {
  std::vector<Json> lines;
  std::istringstream in(FileText(log));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(Json::parse(line, nullptr, false));
  }
  return lines;
}

uint32_t LittleEndian32(const Bytes& bytes, std::size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

class StationEndToEnd : public ::testing::Test {
 protected:
  StationEndToEnd()
      : dir_(testing::TestFolder("tarvok-station")),
        log_(dir_ / "station.log"),
        said_(dir_ / "station.err"),
        image_(ImageBytes(kImageBytes, 7)),
        imageFile_(WriteFile("image.bin", image_)) {}
  ~StationEndToEnd() override { fs::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    return testing::WriteBytes(dir_, name, bytes);
  }
  fs::path Boards(const std::string& fixture) const { return dir_ / ("boards-" + fixture); }
  fs::path Link(const std::string& fixture) const { return dir_ / ("port-" + fixture); }
  Json BoardRecord(const std::string& fixture, uint32_t board) const {
    return testing::SimBoardRecord(Boards(fixture), board);
  }
  Bytes BoardFlash(const std::string& fixture, uint32_t board) const {
    return testing::SimBoardFlash(Boards(fixture), board);
  }

  // tarvok-sim as the fixture `name` with `boards` boards on the link Link(name), its board
  // lines going to the file dir_/sim-NAME.err; it runs until its last board has left.
  std::unique_ptr<BackgroundProcess> StartFixture(const std::string& name, uint32_t boards,
                                                  const std::vector<std::string>& more) {
    fs::create_directories(Boards(name));
    std::vector<std::string> args = {TARVOK_SIM_PATH,
                                     "--boards",
                                     std::to_string(boards),
                                     "--flash-size",
                                     std::to_string(kFlashBytes),
                                     "--rom-baud",
                                     "115200",
                                     "--board-dir",
                                     Boards(name).string(),
                                     "--link",
                                     Link(name).string()};
    args.insert(args.end(), more.begin(), more.end());
    return Redirected(args, dir_ / ("sim-" + name + ".err"));
  }
  // tarvok station on the image with --json: its lines for people go to said_, the JSON
  // object stays on its standard output. Standard input is empty: no operator.
  std::unique_ptr<BackgroundProcess> StartStation(const std::vector<std::string>& more) {
    std::vector<std::string> args = {TARVOK_CLI_PATH, "station", imageFile_,   "--log",
                                     log_.string(),   "--json",  "--rom-baud", "115200",
                                     "--burn-baud",   "921600"};
    args.insert(args.end(), more.begin(), more.end());
    return Redirected(args, said_);
  }
  // The program with its standard error in `errors` (polled there with bounds, where a pipe
  // would block) and its standard input empty; exec keeps signals going to the program.
  static std::unique_ptr<BackgroundProcess> Redirected(const std::vector<std::string>& args,
                                                       const fs::path& errors) {
    std::vector<std::string> shell = {
        "/bin/sh", "-c", "e=$1; shift; exec \"$@\" 2>\"$e\" </dev/null", "sh", errors.string()};
    shell.insert(shell.end(), args.begin(), args.end());
    return std::make_unique<BackgroundProcess>(shell);
  }
  // The station's final JSON object, once it has ended.
  static Json Counts(BackgroundProcess& station) {
    return Json::parse(station.ReadRest(), nullptr, false);
  }
  std::string Said() const { return FileText(said_); }

  fs::path dir_;
  fs::path log_;
  fs::path said_;
  Bytes image_;
  std::string imageFile_;
};

// A board with its own adapter: the port appears when the board comes and goes when it
// leaves. Three boards, each burned once with the next unit number, then the station ends.
TEST_F(StationEndToEnd, PortSignalBurnsEachBoardOnceWithItsUnitNumber) {
  const auto fixture =
      StartFixture("a", 3, {"--port-per-board", "--app-ms", "300", "--board-gap-ms", kPortGapMs});
  const auto station = StartStation({"--port", Link("a").string(), "--board", "port", "--count",
                                     "3", "--unit-offset", "0x100", "--unit-first", "1000"});
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said();
  const Json counts = Counts(*station);
  EXPECT_EQ(counts["result"], "done") << counts;
  EXPECT_EQ(counts["total"], Json({{"passed", 3}, {"failed", 0}, {"interrupted", 0}}));
  ASSERT_EQ(counts["ports"].size(), 1u);
  EXPECT_EQ(counts["ports"][0]["passed"], 3);

  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 3u) << FileText(log_);
  for (uint32_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(lines[k]["result"], "pass") << lines[k];
    EXPECT_EQ(lines[k]["unit"], 1000 + k);
    EXPECT_EQ(lines[k]["sequence"], k + 1);
    EXPECT_EQ(lines[k]["port"], Link("a").string());
  }

  // The fixture ends once its last board has run its application and left.
  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  for (uint32_t board = 1; board <= 3; ++board) {
    SCOPED_TRACE(board);
    const Json record = BoardRecord("a", board);
    EXPECT_EQ(record["result"], "burned") << record;
    EXPECT_EQ(record["burns_started"], 1);
    EXPECT_EQ(record["image_stages_finished"], 1);
    EXPECT_EQ(record["wake_sentences_after_burn"], 0);
    // The image as it is, but for the board's own unit number.
    Bytes flash = BoardFlash("a", board);
    ASSERT_GE(flash.size(), image_.size());
    EXPECT_EQ(LittleEndian32(flash, kUnitOffset), 999 + board);
    flash.resize(image_.size());
    Bytes expected = image_;
    std::copy(flash.begin() + kUnitOffset, flash.begin() + kUnitOffset + 4,
              expected.begin() + kUnitOffset);
    EXPECT_EQ(flash, expected);
  }
}

// Boards on one line whose firmware speaks NMEA once burned: the station hears a burned board
// run and takes its silence for its leaving, and never wakes a running board. The silence it
// waits for is longer than the firmware's second between sentences, and shorter than the gap
// before the next board (whose older firmware speaks as soon as it is in place); the
// application runs long enough to be heard once the station has written its log.
TEST_F(StationEndToEnd, ChipSignalBurnsNmeaBoardsOnceEach) {
  const auto fixture = StartFixture("a", 2, {"--app-ms", "4000", "--board-gap-ms", "2500"});
  const auto station = StartStation({"--port", Link("a").string(), "--board", "chip", "--count",
                                     "2", "--leave-silence-ms", "1500"});
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said();
  EXPECT_EQ(Counts(*station)["total"], Json({{"passed", 2}, {"failed", 0}, {"interrupted", 0}}));
  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 2u) << FileText(log_);
  EXPECT_EQ(lines[0]["result"], "pass");
  EXPECT_EQ(lines[1]["result"], "pass");

  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  for (uint32_t board = 1; board <= 2; ++board) {
    SCOPED_TRACE(board);
    const Json record = BoardRecord("a", board);
    EXPECT_EQ(record["result"], "burned") << record;
    EXPECT_EQ(record["burns_started"], 1);
    EXPECT_EQ(record["wake_sentences_after_burn"], 0);
  }
}

// A failed board is silent in its loader and cannot be heard leaving: the port lets it go once
// the line has been quiet, says what to do in words of its own (not those for silent firmware),
// and burns each of the next boards once, without anyone pressing Enter.
TEST_F(StationEndToEnd, ChipSignalGoesOnAfterAFailedBoard) {
  const auto fixture =
      StartFixture("a", 3, {"--fail-board", "1", "--app-ms", "4000", "--board-gap-ms", "2500"});
  const std::string port = Link("a").string();
  const auto station = StartStation(
      {"--port", port, "--board", "chip", "--count", "2", "--leave-silence-ms", "1500"});
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said();
  EXPECT_EQ(Counts(*station)["total"], Json({{"passed", 2}, {"failed", 1}, {"interrupted", 0}}));
  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 3u) << FileText(log_);
  EXPECT_EQ(lines[0]["result"], "fail");
  EXPECT_EQ(lines[1]["result"], "pass");
  EXPECT_EQ(lines[2]["result"], "pass");
  EXPECT_NE(Said().find(port + " WAITING  FAIL - take the board out; the next board is burned "
                               "when it answers"),
            std::string::npos)
      << Said();
  EXPECT_EQ(Said().find("no sign of the board leaving"), std::string::npos) << Said();

  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  EXPECT_EQ(BoardRecord("a", 1)["result"], "failed");
  for (uint32_t board = 2; board <= 3; ++board) {
    SCOPED_TRACE(board);
    const Json record = BoardRecord("a", board);
    EXPECT_EQ(record["result"], "burned") << record;
    EXPECT_EQ(record["burns_started"], 1);
    EXPECT_EQ(record["wake_sentences_after_burn"], 0);
  }
}

// Two fixtures under the chip signal: every board of the first fails, which stops its port
// after three in a row, each failed board let go once its line was quiet; the second port burns
// on, each of its boards once.
TEST_F(StationEndToEnd, ChipSignalFailingPortStopsWhileTheOtherBurnsOn) {
  const std::vector<std::string> timing = {"--app-ms", "3000", "--board-gap-ms", "2000"};
  std::vector<std::string> failing = timing;
  failing.insert(failing.end(), {"--fail-board", "1,2,3"});
  const auto bad = StartFixture("bad", 3, failing);
  const auto good = StartFixture("good", 3, timing);
  const std::string badPort = Link("bad").string();
  const std::string goodPort = Link("good").string();
  const auto station = StartStation({"--port", badPort, "--port", goodPort, "--board", "chip",
                                     "--leave-silence-ms", "1500", "--max-failures", "3"});
  ASSERT_TRUE(WaitForText(said_, badPort + " STOPPED  3 boards failed in a row")) << Said();
  ASSERT_EQ(good->Wait(kLongWaitMs), 0) << Said();
  ASSERT_EQ(bad->Wait(kExitWaitMs), 0);
  station->Signal(SIGINT);
  ASSERT_EQ(station->Wait(kExitWaitMs), 130) << Said();
  const Json counts = Counts(*station);
  ASSERT_EQ(counts["ports"].size(), 2u) << counts;
  EXPECT_EQ(counts["ports"][0]["failed"], 3) << counts;
  EXPECT_EQ(counts["ports"][0]["passed"], 0);
  EXPECT_EQ(counts["ports"][1]["passed"], 3) << counts;
  EXPECT_EQ(counts["ports"][1]["failed"], 0);
  for (uint32_t board = 1; board <= 3; ++board) {
    SCOPED_TRACE(board);
    EXPECT_EQ(BoardRecord("bad", board)["result"], "failed");
    EXPECT_EQ(BoardRecord("bad", board)["burns_started"], 1);
    EXPECT_EQ(BoardRecord("good", board)["result"], "burned");
    EXPECT_EQ(BoardRecord("good", board)["burns_started"], 1);
    EXPECT_EQ(BoardRecord("good", board)["wake_sentences_after_burn"], 0);
  }
}

// kill -9 while a board's loader goes in: the restarted station records the cut burn, lets the
// board go once its line is quiet (it never speaks: its burn was cut), and burns the next
// board once. The quiet is longer than the fixture takes to give up on a burn whose host went
// silent, so that the wake-ups find the cut board out of its loader.
TEST_F(StationEndToEnd, ChipSignalGoesOnAfterAKillMidBurn) {
  const auto fixture =
      StartFixture("a", 2, {"--throttle", "--app-ms", "3000", "--board-gap-ms", "2000"});
  const std::string port = Link("a").string();
  const fs::path ledger = log_.string() + ".boards-in-place";
  const std::vector<std::string> args = {"--port", port, "--board", "chip", "--leave-silence-ms",
                                         "3000"};
  auto station = StartStation(args);
  // On disk once the boot ROM has answered, before the loader goes in at the ROM's rate.
  ASSERT_TRUE(WaitForText(ledger, "\"burn_ended\":false")) << Said();
  station->Signal(SIGKILL);
  ASSERT_EQ(station->Wait(kExitWaitMs), 128 + SIGKILL);

  std::vector<std::string> again = args;
  again.insert(again.end(), {"--count", "1"});
  station = StartStation(again);
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said();
  EXPECT_EQ(Counts(*station)["total"], Json({{"passed", 1}, {"failed", 0}, {"interrupted", 1}}));
  EXPECT_NE(Said().find(port + " WAITING  waiting for the board burned before the station "
                               "restarted to leave: its burn was cut"),
            std::string::npos)
      << Said();
  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 2u) << FileText(log_);
  EXPECT_EQ(lines[0]["result"], "interrupted");
  EXPECT_EQ(lines[1]["result"], "pass");

  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  EXPECT_EQ(BoardRecord("a", 1)["burns_started"], 1);
  EXPECT_NE(BoardRecord("a", 1)["result"], "burned");
  const Json record = BoardRecord("a", 2);
  EXPECT_EQ(record["result"], "burned") << record;
  EXPECT_EQ(record["burns_started"], 1);
  EXPECT_EQ(record["wake_sentences_after_burn"], 0);
}

// A burned board whose firmware never speaks, left in place: the station cannot see it leave,
// says so on the port's line, and does not burn it again.
TEST_F(StationEndToEnd, ChipSignalNeverBurnsASilentBoardTwice) {
  const auto fixture = StartFixture("a", 2, {"--stuck-board", "1", "--app-speaks", "silent"});
  const std::string port = Link("a").string();
  const auto station = StartStation({"--port", port, "--board", "chip"});
  ASSERT_TRUE(WaitForText(said_, port + " PASS")) << Said();
  // The station waits five seconds for a sign of the board before it says there is none.
  ASSERT_TRUE(WaitForText(said_, port + " no sign of the board leaving", 1, 15000)) << Said();

  fixture->Signal(SIGTERM);
  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  const Json record = BoardRecord("a", 1);
  EXPECT_EQ(record["result"], "burned") << record;
  EXPECT_EQ(record["burns_started"], 1);
  EXPECT_EQ(record["wake_sentences_after_burn"], 0);
  EXPECT_EQ(record["left"], false);

  station->Signal(SIGINT);
  ASSERT_EQ(station->Wait(kExitWaitMs), 130) << Said();
  const Json counts = Counts(*station);
  EXPECT_EQ(counts["result"], "interrupted") << counts;
  EXPECT_EQ(counts["total"], Json({{"passed", 1}, {"failed", 0}, {"interrupted", 0}}));
  EXPECT_NE(Said().find(port + " passed 1, failed 0, interrupted 0"), std::string::npos) << Said();
  EXPECT_EQ(LogLines(log_).size(), 1u);
}

// Two fixtures on one station: every board of the first fails, which stops its port after
// three in a row; the second port burns on, each of its boards once.
TEST_F(StationEndToEnd, FailingPortStopsWhileTheOtherBurnsOn) {
  const std::vector<std::string> timing = {"--port-per-board", "--app-ms", "300", "--board-gap-ms",
                                           "300"};
  std::vector<std::string> failing = timing;
  failing.insert(failing.end(), {"--fail-board", "1,2,3"});
  const auto bad = StartFixture("bad", 3, failing);
  const auto good = StartFixture("good", 5, timing);
  const std::string badPort = Link("bad").string();
  const std::string goodPort = Link("good").string();
  const auto station = StartStation(
      {"--port", badPort, "--port", goodPort, "--board", "port", "--max-failures", "3"});
  ASSERT_TRUE(WaitForText(said_, badPort + " STOPPED  3 boards failed in a row")) << Said();
  // The good fixture ends once its last board has been burned and has left.
  ASSERT_EQ(good->Wait(kLongWaitMs), 0) << Said();
  ASSERT_EQ(bad->Wait(kExitWaitMs), 0);
  station->Signal(SIGINT);
  ASSERT_EQ(station->Wait(kExitWaitMs), 130) << Said();
  const Json counts = Counts(*station);
  ASSERT_EQ(counts["ports"].size(), 2u) << counts;
  EXPECT_EQ(counts["ports"][0]["failed"], 3) << counts;
  EXPECT_EQ(counts["ports"][0]["passed"], 0);
  EXPECT_NE(counts["ports"][0]["stopped"].get<std::string>().find("3 boards failed in a row"),
            std::string::npos)
      << counts;
  EXPECT_EQ(counts["ports"][1]["passed"], 5) << counts;
  EXPECT_EQ(counts["ports"][1]["failed"], 0);
  EXPECT_EQ(counts["ports"][1]["stopped"], "interrupted");

  // The healthy port's last boards were burned after the failing port had stopped.
  uint64_t lastFailure = 0;
  uint64_t lastPass = 0;
  for (const Json& line : LogLines(log_)) {
    ASSERT_FALSE(line.is_discarded());
    (line["port"] == badPort ? lastFailure : lastPass) = line["sequence"].get<uint64_t>();
  }
  EXPECT_GT(lastPass, lastFailure);

  for (uint32_t board = 1; board <= 3; ++board) {
    EXPECT_EQ(BoardRecord("bad", board)["result"], "failed") << board;
    EXPECT_EQ(BoardRecord("bad", board)["burns_started"], 1) << board;
  }
  for (uint32_t board = 1; board <= 5; ++board) {
    EXPECT_EQ(BoardRecord("good", board)["result"], "burned") << board;
    EXPECT_EQ(BoardRecord("good", board)["burns_started"], 1) << board;
  }
}

// With --count 1, a board that arrives on a second port while the first port's board burns
// must wait: that burn may fail, and then this board is the one still needed. Here it does
// fail, and the second port's board is burned and ends the station.
TEST_F(StationEndToEnd, BoardArrivingWhileTheLastNeededBurnRunsWaitsForIt) {
  const auto first = StartFixture("first", 1, {"--port-per-board", "--fail-board", "1"});
  const std::string firstPort = Link("first").string();
  const std::string secondPort = Link("second").string();
  const auto station =
      StartStation({"--port", firstPort, "--port", secondPort, "--board", "port", "--count", "1"});
  ASSERT_TRUE(WaitForText(said_, firstPort + " BURNING")) << Said();
  // The second board comes while the first one's loader is still being downloaded.
  const auto second = StartFixture("second", 1, {"--port-per-board", "--app-ms", "300"});
  ASSERT_EQ(WaitForOneOf(said_, {secondPort + " PASS", secondPort + " STOPPED"}),
            secondPort + " PASS")
      << Said();
  ASSERT_EQ(station->Wait(kExitWaitMs), 0) << Said();
  const Json counts = Counts(*station);
  EXPECT_EQ(counts["ports"][0]["failed"], 1) << counts;
  EXPECT_EQ(counts["ports"][1]["passed"], 1) << counts;
  ASSERT_EQ(second->Wait(kExitWaitMs), 0);
  EXPECT_EQ(BoardRecord("second", 1)["burns_started"], 1);
  // The failed board writes its record as it leaves, after its time in place.
  ASSERT_EQ(first->Wait(kExitWaitMs), 0);
  EXPECT_EQ(BoardRecord("first", 1)["result"], "failed");
}

// Ctrl-C while a board burns: the burn stops, the board is recorded as interrupted in one whole
// log line, and the station ends with the shell's code for an interrupt.
TEST_F(StationEndToEnd, InterruptMidBurnIsRecorded) {
  // A wire carried at its rate, so that the burn lasts long enough to be interrupted, and traced,
  // so that the interrupt comes while the loader is on its way: the station notes the board
  // beside its log before the first byte, which is too early, and the board's application sends
  // its fixes on the same line until the wake-up sentence, so bytes from the chip alone prove
  // nothing. 0xF9, the complement of the handshake's last byte, is never part of a sentence; the
  // download's echoes follow it.
  const auto fixture = StartFixture("a", 1, {"--throttle", "--trace"});
  const std::string port = Link("a").string();
  const auto station = StartStation({"--port", port, "--board", "port"});
  ASSERT_TRUE(WaitForText(fs::path(log_.string() + ".boards-in-place"), "\"started\"")) << Said();
  const fs::path trace = dir_ / "sim-a.err";
  ASSERT_TRUE(WaitForText(trace, "chip>host @115200: F9")) << FileText(trace);
  const std::size_t chipLinesAtWake = Occurrences(FileText(trace), "chip>host @115200");
  ASSERT_TRUE(WaitForText(trace, "chip>host @115200", chipLinesAtWake + 20)) << FileText(trace);
  station->Signal(SIGINT);
  ASSERT_EQ(station->Wait(kExitWaitMs), 130) << Said();
  const Json counts = Counts(*station);
  EXPECT_EQ(counts["result"], "interrupted") << counts;
  EXPECT_EQ(counts["total"], Json({{"passed", 0}, {"failed", 0}, {"interrupted", 1}}));

  const std::string log = FileText(log_);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 1u) << log;
  EXPECT_EQ(lines[0]["result"], "interrupted") << log;
  EXPECT_TRUE(lines[0]["started"].is_string()) << log;
  fixture->Signal(SIGTERM);
  EXPECT_EQ(fixture->Wait(kExitWaitMs), 0);
  const Json record = BoardRecord("a", 1);
  EXPECT_EQ(record["burns_started"], 1) << record;
  EXPECT_EQ(record["image_stages_finished"], 0);
}

// Two fixtures reached over the network, one through ser2net and one through pyserial's RFC
// 2217 server: each board is burned once, through its server, at the station's rates.
TEST_F(StationEndToEnd, NetworkFixturesBurnEachBoardOnce) {
  const std::vector<std::string> timing = {"--app-ms", "4000", "--board-gap-ms", "2500"};
  const auto first = StartFixture("a", 2, timing);
  const auto second = StartFixture("b", 2, timing);
  std::string error;
  const auto ser2net = testing::SerialServer::Start(
      {.kind = testing::ServerKind::kSer2netRfc2217, .device = first->ReadLine()}, dir_.string(),
      &error);
  ASSERT_NE(ser2net, nullptr) << error;
  const auto pyserial = testing::SerialServer::Start(
      {.kind = testing::ServerKind::kPyserialRfc2217, .device = second->ReadLine()}, dir_.string(),
      &error);
  ASSERT_NE(pyserial, nullptr) << error;
  const auto station =
      StartStation({"--port", ser2net->PortName(), "--port", pyserial->PortName(), "--board",
                    "chip", "--count", "4", "--leave-silence-ms", "1500"});
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said() << ser2net->Output() << pyserial->Output();
  const Json counts = Counts(*station);
  EXPECT_EQ(counts["total"], Json({{"passed", 4}, {"failed", 0}, {"interrupted", 0}})) << counts;
  ASSERT_EQ(counts["ports"].size(), 2u) << counts;
  EXPECT_EQ(counts["ports"][0]["passed"], 2) << counts;
  EXPECT_EQ(counts["ports"][1]["passed"], 2) << counts;
  for (const Json& line : LogLines(log_)) {
    EXPECT_EQ(line["result"], "pass") << line;
  }

  ASSERT_EQ(first->Wait(kExitWaitMs), 0);
  ASSERT_EQ(second->Wait(kExitWaitMs), 0);
  for (const std::string fixture : {"a", "b"}) {
    for (uint32_t board = 1; board <= 2; ++board) {
      SCOPED_TRACE(fixture + std::to_string(board));
      const Json record = BoardRecord(fixture, board);
      EXPECT_EQ(record["result"], "burned") << record;
      EXPECT_EQ(record["burns_started"], 1);
      EXPECT_EQ(record["wake_sentences_after_burn"], 0);
      Bytes flash = BoardFlash(fixture, board);
      ASSERT_GE(flash.size(), image_.size());
      flash.resize(image_.size());
      EXPECT_EQ(flash, image_);
    }
  }
}

// The server drops the connection in the middle of the first board's image: that board
// fails, and the port connects again and burns the next board. As after a kill mid-burn, the
// quiet the station waits for is longer than the cut board takes to give up on its host.
TEST_F(StationEndToEnd, NetworkPortConnectsAgainAfterADroppedConnection) {
  const auto fixture = StartFixture("a", 2, {"--app-ms", "4000", "--board-gap-ms", "2500"});
  std::string error;
  const auto ser2net = testing::SerialServer::Start(
      {.kind = testing::ServerKind::kSer2netRfc2217, .device = fixture->ReadLine()}, dir_.string(),
      &error);
  ASSERT_NE(ser2net, nullptr) << error;
  // Past the boot stage and the loader (some 3.5 KB), inside the 6000-byte image.
  const auto dropping = testing::SerialServer::Start({.kind = testing::ServerKind::kDrops,
                                                      .device = {},
                                                      .lineRate = 9600,
                                                      .upstream = ser2net->Port(),
                                                      .dropAfterBytes = 6000},
                                                     dir_.string(), &error);
  ASSERT_NE(dropping, nullptr) << error;
  const auto station = StartStation({"--port", dropping->PortName(), "--board", "chip", "--count",
                                     "1", "--leave-silence-ms", "3000"});
  ASSERT_EQ(station->Wait(kLongWaitMs), 0) << Said() << ser2net->Output();
  EXPECT_EQ(Counts(*station)["total"], Json({{"passed", 1}, {"failed", 1}, {"interrupted", 0}}));
  const std::vector<Json> lines = LogLines(log_);
  ASSERT_EQ(lines.size(), 2u) << FileText(log_);
  EXPECT_EQ(lines[0]["result"], "fail");
  EXPECT_EQ(lines[1]["result"], "pass");

  ASSERT_EQ(fixture->Wait(kExitWaitMs), 0);
  const Json cut = BoardRecord("a", 1);
  EXPECT_EQ(cut["burns_started"], 1) << cut;
  EXPECT_NE(cut["result"], "burned") << cut;
  const Json record = BoardRecord("a", 2);
  EXPECT_EQ(record["result"], "burned") << record;
  EXPECT_EQ(record["burns_started"], 1);
}

// What would make a board wrong is refused before any port is touched: exit code 2, one line
// saying why, no log, and not a byte on the port.
TEST_F(StationEndToEnd, RefusalsBeforeAnythingIsBurned) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string port = ptsname(master);
  // Held open, so that the line stays up and whatever reaches it waits on the master side.
  const int slave = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave, 0);
  const std::string otherState = (dir_ / "other.state").string();
  const std::string otherStateText =
      R"({"first":1,"step":1,"encoding":"le32","offset":256,"next":5})"
      "\n";
  std::ofstream(otherState) << otherStateText;
  const std::string wrongSha(64, 'a');
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {"another image's SHA-256",
       {"--expect-sha256", wrongSha},
       "is not the expected one: its SHA-256 is "},
      {"unit offset past the image",
       {"--unit-offset", "6000", "--unit-first", "1"},
       "unit numbers: the unit number's offset 6000 is past the image's 6000 bytes; nothing was "
       "burned"},
      {"unit number wider than its field",
       {"--unit-offset", "0x100", "--unit-first", "1000", "--unit-format", "dec:3"},
       "the first unit number 1000 does not fit dec:3 (at most 999)"},
      {"unit state of another series",
       {"--unit-offset", "0x100", "--unit-first", "1000", "--unit-state", otherState},
       "belongs to another series: this station has first number 1000 (the state file has 1)"},
      {"one port given twice", {"--port", port}, "are the same port: give each port once"},
      {"a leaving silence where no board is seen by its traffic",
       {"--leave-silence-ms", "2000"},
       "--leave-silence-ms is for --board chip; with --board port a board's leaving is seen "
       "without it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {TARVOK_CLI_PATH, "station", imageFile_, "--log", log_.string(),
                                     "--port",        port,      "--board",  "port"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult result = RunProcess(args);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(Occurrences(result.err, "\n"), 1u) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(log_));
    pollfd entry{master, POLLIN, 0};
    ASSERT_GE(poll(&entry, 1, 0), 0);
    EXPECT_EQ(entry.revents & POLLIN, 0) << "bytes reached the port";
  }
  EXPECT_EQ(FileText(otherState), otherStateText);
  // Nothing beside the log either: no unit number state, no boards in place.
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_NE(entry.path().filename().string().rfind("station.log", 0), 0u) << entry.path();
  }
  close(slave);
  close(master);
}

}  // namespace
}  // namespace tarvok
