// tarvok-sim as a production fixture (--boards): boards that arrive, are burned by tarvok,
// run their application and leave, one after the other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/ImageFactory.h"
#include "tests/support/SimBoardFiles.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::ImageBytes;
using testing::ProcessResult;
using testing::RunProcess;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFlashBytes = 65536;

class Fixture : public ::testing::Test {
 protected:
  Fixture() : dir_(testing::TestFolder("tarvok-fixture")), boards_(dir_ / "boards") {
    fs::create_directories(boards_);
  }
  ~Fixture() override { fs::remove_all(dir_); }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    return testing::WriteBytes(dir_, name, bytes);
  }
  Bytes BoardFlash(uint32_t board) const { return testing::SimBoardFlash(boards_, board); }
  nlohmann::json BoardRecord(uint32_t board) const {
    return testing::SimBoardRecord(boards_, board);
  }
  // The simulator as a fixture of `boards` boards, its standard error captured.
  std::vector<std::string> Simulator(uint32_t boards, std::vector<std::string> more) const {
    std::vector<std::string> args = {TARVOK_SIM_PATH,
                                     "--boards",
                                     std::to_string(boards),
                                     "--flash-size",
                                     std::to_string(kFlashBytes),
                                     "--board-dir",
                                     boards_.string()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  fs::path dir_;
  fs::path boards_;
};

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

bool Holds(const Bytes& flash, const Bytes& bytes, std::size_t at) {
  return flash.size() >= at + bytes.size() &&
         std::equal(bytes.begin(), bytes.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
}

// Names made and removed in one folder, as the kernel queued them: "+name" for made,
// "-name" for removed. The queue keeps their order, whenever it is read.
class FolderWatch {
 public:
  explicit FolderWatch(const fs::path& dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) {
      inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_DELETE);
    }
  }
  ~FolderWatch() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // What was queued since the last call, about `name` only.
  std::vector<std::string> Changes(const std::string& name) {
    std::vector<std::string> changes;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = 0;
    while (fd_ >= 0 && (n = read(fd_, buffer, sizeof(buffer))) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name == event->name) {
          changes.push_back(((event->mask & IN_CREATE) != 0 ? "+" : "-") + name);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return changes;
  }

 private:
  int fd_;
};

// Reads the port until a whole "$GPGGA,...*hh\r\n" has arrived (at most 10 s): empty when none
// came.
std::string ReadOneSentence(const std::string& port) {
  const int fd = open(port.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return {};
  }
  std::string seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string sentence;
  while (sentence.empty() && std::chrono::steady_clock::now() < end) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0 || (entry.revents & POLLIN) == 0) {
      continue;
    }
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) {
      break;
    }
    seen.append(buffer, static_cast<std::size_t>(n));
    const std::size_t start = seen.find("$GPGGA");
    const std::size_t stop = start == std::string::npos ? start : seen.find("\r\n", start);
    if (stop != std::string::npos) {
      sentence = seen.substr(start, stop + 2 - start);
    }
  }
  close(fd);
  return sentence;
}

// The sentence's checksum: the XOR of the characters between '$' and '*', in two hex digits.
bool ChecksumHolds(const std::string& sentence) {
  const std::size_t star = sentence.find('*');
  if (star == std::string::npos || star + 5 != sentence.size()) {
    return false;
  }
  uint8_t sum = 0;
  for (std::size_t k = 1; k < star; ++k) {
    sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(sentence[k]));
  }
  char hex[3];
  std::snprintf(hex, sizeof(hex), "%02X", sum);
  return sentence.substr(star + 1, 2) == hex;
}

// Three boards on one line, burned in turn by three runs of tarvok, the second failing on a
// flash error. Each arrives holding an older firmware; each one's flash and record are left
// as the burn left them. (The boards arrive with their loader running, so the three burns
// take a second; the next test burns through the boot ROM.)
TEST_F(Fixture, BoardsBurnedInTurn) {
  const Bytes older = ImageBytes(10000, 9);
  const Bytes image = ImageBytes(3000, 4);
  const std::string imageFile = WriteFile("image.bin", image);
  BackgroundProcess simulator(
      Simulator(3, {"--start-in-loader", "--fail-board", "2", "--older-image",
                    WriteFile("older.bin", older), "--app-ms", "200", "--board-gap-ms", "100"}),
      true);
  const std::string port = simulator.ReadLine();
  ASSERT_TRUE(StartsWith(port, "/dev/")) << port;
  const struct {
    uint32_t board;
    int exitCode;
    const char* result;
    bool holdsImage;
    int stagesFinished;
  } boards[] = {
      {1, 0, "burned", true, 1},
      {2, 1, "failed", false, 0},
      {3, 0, "burned", true, 1},
  };
  for (const auto& b : boards) {
    SCOPED_TRACE(b.board);
    const std::string name = "board " + std::to_string(b.board) + ": ";
    ASSERT_EQ(simulator.ReadErrorLine(), name + "in place");
    const ProcessResult burn =
        RunProcess({TARVOK_CLI_PATH, "burn", imageFile, "--port", port, "--loader-running"});
    EXPECT_EQ(burn.exitCode, b.exitCode) << burn.out << burn.err;
    const std::string left = simulator.ReadErrorLine();
    EXPECT_TRUE(StartsWith(left, name + b.result + ", 1 burn, left after ")) << left;
    const nlohmann::json record = BoardRecord(b.board);
    EXPECT_EQ(record["board"], b.board) << record;
    EXPECT_EQ(record["result"], b.result);
    EXPECT_EQ(record["burns_started"], 1);
    EXPECT_EQ(record["image_stages_started"], 1);
    EXPECT_EQ(record["image_stages_finished"], b.stagesFinished);
    EXPECT_EQ(record["wake_sentences_after_burn"], 0);
    EXPECT_EQ(record["left"], true);
    const Bytes flash = BoardFlash(b.board);
    ASSERT_EQ(flash.size(), kFlashBytes);
    EXPECT_EQ(Holds(flash, image, 0), b.holdsImage);
    // The image's erase took the first sector; the older firmware beyond it is as it was,
    // and the flash beyond that as --flash-fill left it (0).
    const Bytes olderBeyondSector(older.begin() + 4096, older.end());
    EXPECT_TRUE(Holds(flash, olderBeyondSector, 4096));
    EXPECT_TRUE(Holds(flash, Bytes(kFlashBytes - older.size(), 0x00), older.size()));
  }
  EXPECT_EQ(simulator.Wait(10000), 0);
  EXPECT_EQ(simulator.ReadRest(), "");  // the one line's path, and nothing more
}

// A board that was burned and runs its application never answers its boot ROM again: a
// second burn fails at the handshake, the fixture counts the host's wake-up sentences, and a
// stuck board stays until the fixture is stopped, its record written then. Its application
// speaks NMEA at the boot ROM's rate meanwhile.
TEST_F(Fixture, SecondBurnOfABoardRunningItsApplicationFailsAndIsCounted) {
  const std::string imageFile = WriteFile("image.bin", ImageBytes(3000, 5));
  BackgroundProcess simulator(Simulator(2, {"--stuck-board", "1", "--rom-baud", "115200"}), true);
  const std::string port = simulator.ReadLine();
  ASSERT_TRUE(StartsWith(port, "/dev/")) << port;
  ASSERT_EQ(simulator.ReadErrorLine(), "board 1: in place");
  const std::vector<std::string> burn = {TARVOK_CLI_PATH, "burn",   imageFile,     "--port", port,
                                         "--rom-baud",    "115200", "--burn-baud", "921600"};
  const ProcessResult first = RunProcess(burn);
  EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
  const ProcessResult second = RunProcess(burn);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.out.find("the boot ROM never answered the handshake"), std::string::npos)
      << second.out;

  const std::string sentence = ReadOneSentence(port);
  EXPECT_TRUE(StartsWith(sentence, "$GPGGA,")) << sentence;
  EXPECT_TRUE(ChecksumHolds(sentence)) << sentence;

  simulator.Signal(SIGTERM);
  EXPECT_EQ(simulator.Wait(10000), 0);
  const std::string line = simulator.ReadErrorLine();
  EXPECT_TRUE(StartsWith(line, "board 1: burned, 1 burn, ")) << line;
  EXPECT_NE(line.find("wake-up sentences after its burn, still in place after "), std::string::npos)
      << line;
  EXPECT_EQ(simulator.ReadErrorRest(), "");  // board 2 never came
  const nlohmann::json record = BoardRecord(1);
  EXPECT_EQ(record["result"], "burned") << record;
  EXPECT_EQ(record["burns_started"], 1);
  EXPECT_EQ(record["image_stages_started"], 1);
  EXPECT_EQ(record["image_stages_finished"], 1);
  EXPECT_GE(record["wake_sentences_after_burn"].get<int>(), 1);
  EXPECT_EQ(record["left"], false);
  EXPECT_FALSE(fs::exists(boards_ / "board-2.json"));
}

// With a port per board the link names a board's own pseudo-terminal only while the board is
// in place: a board pulled in the middle of its image takes it away (the host sees the port
// go), and the next board comes on a new one under the same name. A board the operator takes
// out (SIGUSR1) before anyone burned it leaves as pulled, with no burn started.
TEST_F(Fixture, PortPerBoardComesAndGoesWithTheBoard) {
  const Bytes image = ImageBytes(40000, 6);
  const std::string imageFile = WriteFile("image.bin", image);
  const std::string link = (dir_ / "fixture-port").string();
  BackgroundProcess simulator(
      Simulator(3, {"--start-in-loader", "--port-per-board", "--link", link, "--pull-board", "1",
                    "--app-ms", "100", "--board-gap-ms", "100"}),
      true);
  const std::vector<std::string> burn = {
      TARVOK_CLI_PATH, "burn",   imageFile,         "--port", link,
      "--burn-baud",   "921600", "--loader-running"};

  const std::string firstPort = simulator.ReadLine();
  ASSERT_EQ(simulator.ReadErrorLine(), "board 1: in place");
  EXPECT_EQ(fs::read_symlink(link), firstPort);
  FolderWatch watch(dir_);
  const ProcessResult pulled = RunProcess(burn);
  EXPECT_EQ(pulled.exitCode, 1);
  EXPECT_NE(pulled.out.find("the port went away"), std::string::npos) << pulled.out;
  const std::string left = simulator.ReadErrorLine();
  EXPECT_TRUE(StartsWith(left, "board 1: pulled, 1 burn, left after ")) << left;
  // Gone with the board: removed before the fixture told of its leaving, so the removal is
  // queued already, whether or not the next board has come since (the gap is short).
  const std::vector<std::string> changes = watch.Changes("fixture-port");
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.front(), "-fixture-port");
  const nlohmann::json record = BoardRecord(1);
  EXPECT_EQ(record["result"], "pulled") << record;
  EXPECT_EQ(record["image_stages_started"], 1);
  EXPECT_EQ(record["image_stages_finished"], 0);
  // Half the image reached the flash, the rest never did.
  const Bytes flash = BoardFlash(1);
  EXPECT_TRUE(Holds(flash, Bytes(image.begin(), image.begin() + 20000), 0));
  EXPECT_FALSE(Holds(flash, image, 0));

  const std::string secondPort = simulator.ReadLine();
  ASSERT_TRUE(StartsWith(secondPort, "/dev/")) << secondPort;
  ASSERT_EQ(simulator.ReadErrorLine(), "board 2: in place");
  EXPECT_EQ(fs::read_symlink(link), secondPort);
  // Made anew for the next board, and only once.
  std::vector<std::string> sinceLeaving(changes.begin() + 1, changes.end());
  for (const std::string& change : watch.Changes("fixture-port")) {
    sinceLeaving.push_back(change);
  }
  EXPECT_EQ(sinceLeaving, std::vector<std::string>{"+fixture-port"});
  const ProcessResult burned = RunProcess(burn);
  EXPECT_EQ(burned.exitCode, 0) << burned.out << burned.err;
  const std::string secondLeft = simulator.ReadErrorLine();
  EXPECT_TRUE(StartsWith(secondLeft, "board 2: burned, 1 burn, left after ")) << secondLeft;
  EXPECT_TRUE(Holds(BoardFlash(2), image, 0));

  EXPECT_TRUE(StartsWith(simulator.ReadLine(), "/dev/"));
  ASSERT_EQ(simulator.ReadErrorLine(), "board 3: in place");
  simulator.Signal(SIGUSR1);
  const std::string takenOut = simulator.ReadErrorLine();
  EXPECT_TRUE(StartsWith(takenOut, "board 3: pulled, 0 burns, left after ")) << takenOut;
  EXPECT_EQ(BoardRecord(3)["burns_started"], 0);
  EXPECT_EQ(simulator.Wait(10000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

}  // namespace
}  // namespace tarvok
