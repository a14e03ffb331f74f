// The dialog's logic with a fake window, a fake serial port and a simulated chip, in virtual
// time: the burn's waits cost nothing, the tests tick the one-second timer themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/BurnEngine.h"
#include "app/DialogCore.h"
#include "app/ProgressText.h"
#include "app/StartSignal.h"
#include "burn/BurnSequence.h"
#include "burn/ImageFile.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/FakeDialogView.h"
#include "tests/support/HexText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using testing::ChipOnWire;
using testing::FakeDialogView;
using testing::FakeSerialDevice;

// A gate a worker stops at until the test opens it.
class Gate {
 public:
  void WaitHere() {
    std::unique_lock lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void WaitUntilReached() {
    std::unique_lock lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(30), [this] { return reached_; }));
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool open_ = false;
};

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The dialog's logic over a simulated chip behind a fake port, with workers the test joins.
class DialogTest : public ::testing::Test {
 protected:
  DialogTest()
      : file_(fs::temp_directory_path() / ("tarvok-dialog-" + std::to_string(getpid()) + ".bin")) {
    const auto bytes = testing::ImageBytes(6000);
    std::ofstream(file_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    core = DialogCore::Create(
        viewOwner,
        [this](std::function<void()> body) {
          if (failThreads)
            return false;
          workers.emplace_back(std::move(body));
          return true;
        },
        [this](const std::string& path) {
          openedPaths.push_back(path);
          if (beforeOpen)
            beforeOpen();
          OpenResult result;
          auto device = std::make_unique<FakeSerialDevice>();
          chip = std::make_unique<ChipOnWire>(*device, chipOptions);
          lastPortClosed = false;
          device->onDestroy = [this](const FakeSerialDevice& gone) {
            lastPortClosed = gone.Closed();
          };
          result.device = std::move(device);
          return result;
        });
    core->OnInitDialog();
  }
  ~DialogTest() override {
    for (auto& worker : workers)
      worker.join();
    fs::remove(file_);
  }
  void ChooseImage() {
    view.chosenFile = file_.string();
    core->OnOpenClicked();
  }

  fs::path file_;
  std::shared_ptr<FakeDialogView> viewOwner = std::make_shared<FakeDialogView>();
  FakeDialogView& view = *viewOwner;
  std::shared_ptr<DialogCore> core;
  std::vector<std::thread> workers;
  std::vector<std::string> openedPaths;
  std::function<void()> beforeOpen;
  sim::ChipOptions chipOptions;
  std::unique_ptr<ChipOnWire> chip;
  std::atomic<bool> lastPortClosed{false};
  bool failThreads = false;
};

// The worker waits for the window's go-ahead. A worker just going to sleep as the go-ahead
// comes must still wake: thousands of starts, so that a lost wake-up shows (it did with the
// MinGW-w64 runtime's binary_semaphore, about once in a few hundred starts).
TEST(StartSignal, EveryWaitingWorkerWakes) {
  for (int start = 0; start < 2000; ++start) {
    // Shared with the worker, so that a worker that never wakes can be left behind.
    const auto signal = std::make_shared<StartSignal>();
    const auto woke = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([signal, woke] {
      signal->Wait();
      *woke = true;
    });
    signal->Give();
    const bool wokeInTime = WaitFor([&] { return woke->load(); });
    if (wokeInTime) {
      worker.join();
    } else {
      worker.detach();
    }
    ASSERT_TRUE(wokeInTime) << "start " << start << " never woke";
  }
}

TEST(BurnRunProgress, StagePercentages) {
  FakeDialogView view;
  BurnRun run(view);
  const struct {
    bool imageStage;
    uint8_t p;
    const char* shown;
  } cases[] = {{false, 3, "0"},    {false, 4, "1"},  {false, 50, "15"},
               {false, 100, "30"}, {true, 0, "30"},  {true, 3, "32"},
               {true, 50, "65"},   {true, 99, "99"}, {true, 100, "100"}};
  for (const auto& c : cases) {
    run.OnStageProgress(c.imageStage ? BurnStage::kImage : BurnStage::kLoader, c.p, 1, 2);
    EXPECT_EQ(view.Last("progress "), c.shown) << int{c.p};
  }
}

TEST(BurnRunProgress, SpeedTexts) {
  const struct {
    uint32_t bytes, seconds;
    const char* text;
  } cases[] = {{5000, 0, "0 Bps"},      {1024, 1, "1024 Bps"},
               {1025, 1, "1.00 KBps"},  {115200, 10, "11.25 KBps"},
               {10240, 5, "2.00 KBps"}, {10240, 6, "1.67 KBps"},
               {0, 3, "0 Bps"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FormatSpeed(c.bytes, c.seconds), c.text);
  }
  EXPECT_EQ(BurnFailureText(0x20006), "Burn Flash Img Fail ! Error=20006");
  EXPECT_EQ(BurnFailureText(14), "Burn Flash Img Fail ! Error=e");
  EXPECT_EQ(BurnFailureText(0x505), "Burn Flash Img Fail ! Error=505");
}

TEST(BurnRunProgress, TicksElapsedTimeAndAStalledSpeed) {
  FakeDialogView view;
  BurnRun run(view);
  run.burning = 1;
  run.OnStageStart(BurnStage::kLoader);
  for (int k = 0; k < 75; ++k)
    run.OnBurnTick();
  EXPECT_EQ(view.Last("elapsed "), "01:15 sec");

  // The image stage restarts the speed but not the elapsed time.
  run.OnStageStart(BurnStage::kImage);
  EXPECT_EQ(view.Last("progress "), "30");
  run.OnStageProgress(BurnStage::kImage, 4, 3840, 100000);
  EXPECT_EQ(view.Last("speed "), "0 Bps");
  for (int k = 0; k < 3; ++k)
    run.OnBurnTick();
  run.OnStageProgress(BurnStage::kImage, 9, 10240, 100000);
  run.OnBurnTick();  // 4 s: new bytes since the last tick, the label stays
  EXPECT_EQ(view.Last("speed "), "3.33 KBps");
  run.OnBurnTick();  // 5 s, nothing new: the speed sinks
  EXPECT_EQ(view.Last("speed "), "2.00 KBps");
  run.OnBurnTick();
  EXPECT_EQ(view.Last("speed "), "1.67 KBps");
  EXPECT_EQ(view.Last("elapsed "), "01:21 sec");

  for (int k = 0; k < 6000 - 81; ++k)
    run.OnBurnTick();
  EXPECT_EQ(view.Last("elapsed "), "100:00 sec");
  run.burning = 0;
  run.OnBurnTick();
  EXPECT_EQ(view.Last("elapsed "), "100:00 sec");
}

// A fake port with a simulated chip behind it, handed to one burn; what the port saw stays
// readable after the burn has closed it.
struct ChipBehindFakePort {
  explicit ChipBehindFakePort(const sim::ChipOptions& options)
      : owned(std::make_unique<FakeSerialDevice>()), device(*owned), wire(device, options) {
    device.onDestroy = [this](const FakeSerialDevice& gone) {
      events = gone.Events();
      written = gone.Written();
      closedAtRate = gone.BaudRate();
    };
  }
  DeviceOpener Opener() {
    return [this](const std::string&) {
      OpenResult opened;
      opened.device = std::move(owned);
      return opened;
    };
  }
  std::unique_ptr<FakeSerialDevice> owned;
  FakeSerialDevice& device;  // valid until the burn closes the port
  ChipOnWire wire;
  std::vector<FakeSerialDevice::Event> events;
  std::vector<uint8_t> written;
  uint32_t closedAtRate = 0;
};

// The command line reads the image once: every burn shares those bytes read-only and reads
// nothing again (the file may be gone by then).
TEST(BurnImages, OneReadServesEveryBurn) {
  const fs::path file = fs::temp_directory_path() / ("tarvok-shared-" + std::to_string(getpid()));
  const auto bytes = testing::ImageBytes(3000);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  auto image = std::make_shared<FlashImage>();
  ASSERT_FALSE(ReadImage(file.string(), ImageReadOptions{}, *image));
  fs::remove(file);
  for (int run = 0; run < 2; ++run) {
    sim::ChipOptions options;
    options.flashBytes = 512 * 1024;
    ChipBehindFakePort port(options);
    BurnRequest request;
    request.portName = request.devicePath = "/dev/fake";
    request.image = image;
    BurnProgressSink unwatched;
    const BurnOutcome outcome = Burn(request, unwatched, port.Opener());
    EXPECT_EQ(outcome.status, kBurnOk);
    const auto& flash = port.wire.chip.FlashMemory().Cells();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
    EXPECT_EQ(image->path, file.string());  // the request's image is left as it was read
    EXPECT_EQ(image->eraseFlag, 0);
  }
}

// A stop request ends the run at the next byte boundary wherever it comes: nothing more goes
// on the wire, no protocol wait is sat out, and the line is set back to where it began.
TEST(BurnStop, EndsAtTheNextByteBoundary) {
  const struct {
    const char* name;
    bool silentChip;
    int stopAtPercent;     // the first progress at or past this stops the run (-1: at once)
    uint32_t stopAtWrite;  // or the write with this number does (0: none)
  } cases[] = {{"before the run", false, -1, 0},
               {"waking a silent boot ROM", true, 101, 40},
               {"loading the loader", false, 10, 0},
               {"burning the image", false, 60, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ChipOptions options;
    options.flashBytes = 512 * 1024;
    options.silent = c.silentChip;
    ChipBehindFakePort port(options);
    FakeSerialDevice& device = port.device;
    std::atomic<bool> stop{c.stopAtPercent < 0};
    size_t writtenAtStop = 0;
    uint64_t stoppedAtUs = 0;
    const auto stopNow = [&] {
      stop = true;
      writtenAtStop = device.Written().size();
      stoppedAtUs = device.NowUs();
    };
    if (c.stopAtWrite != 0) {
      device.SetResponder([&](FakeSerialDevice& d, std::span<const uint8_t>) {
        if (d.WriteCalls() == c.stopAtWrite) {
          stopNow();
        }
      });
    }
    FakeDialogView view;
    view.onEvent = [&](const std::string& event) {
      if (!stop && event.rfind("progress ", 0) == 0 &&
          std::stoi(event.substr(9)) >= c.stopAtPercent) {
        stopNow();
      }
    };
    BurnRequest request;
    request.portName = request.devicePath = "/dev/fake";
    request.image = testing::MakeImage(testing::ImageBytes(100 * 1024));
    request.stop = StopToken(stop);
    BurnRun run(view);
    uint64_t endedAtUs = 0;
    device.onDestroy = [&, chained = device.onDestroy](const FakeSerialDevice& gone) {
      endedAtUs = gone.NowUs();
      chained(gone);
    };
    const BurnOutcome outcome = Burn(request, run, port.Opener());
    EXPECT_NE(outcome.status, kBurnOk);
    EXPECT_TRUE(outcome.interrupted);
    EXPECT_EQ(outcome.summary, "the burn was interrupted");
    EXPECT_EQ(port.written.size(), writtenAtStop);
    EXPECT_LT(endedAtUs - stoppedAtUs, 100'000u);  // no idle second or read time-out
    EXPECT_EQ(port.closedAtRate, 9600u);
    // Set back and everything queued discarded, then the port closed.
    const auto purgeAll = std::find_if(port.events.rbegin(), port.events.rend(), [](const auto& e) {
      return e.kind == FakeSerialDevice::EventKind::kPurge && e.value == kPurgeAll;
    });
    EXPECT_NE(purgeAll, port.events.rend());
  }
}

TEST_F(DialogTest, StartsIdleWithBurnDisabled) {
  EXPECT_FALSE(view.Enabled(kBurnButtonId));
  EXPECT_TRUE(view.Enabled(kOpenButtonId));
  EXPECT_EQ(view.Last("speed "), "0 Bps");
  EXPECT_EQ(view.Last("elapsed "), "00:00");
  core->OnBurnClicked();
  EXPECT_EQ(view.Last("message "), kChooseImageText);
  EXPECT_TRUE(workers.empty());
  EXPECT_FALSE(view.TimerRunning());
}

TEST_F(DialogTest, OpenKeepsTheChosenFileAndPath) {
  view.chosenFile.reset();
  core->OnOpenClicked();  // cancelled: Burn enabled, nothing chosen
  EXPECT_TRUE(view.Enabled(kBurnButtonId));
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kNone);
  core->OnBurnClicked();
  EXPECT_EQ(view.Last("message "), kChooseImageText);

  ChooseImage();
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kHeldOpen);
  EXPECT_EQ(view.Last("path "), file_.string());

  view.chosenFile = (fs::temp_directory_path() / "tarvok-no-such-image.bin").string();
  core->OnOpenClicked();
  EXPECT_EQ(view.Last("message "), kImageOpenErrorText);
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kNone);

#ifndef _WIN32
  // A FIFO named like an image: refused at once instead of holding the window for a writer.
  const fs::path fifo = file_.string() + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  view.chosenFile = fifo.string();
  core->OnOpenClicked();
  fs::remove(fifo);
  EXPECT_EQ(view.EventsStartingWith("message ").size(), 3u);
  EXPECT_EQ(view.Last("message "), kImageOpenErrorText);
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kNone);
  EXPECT_EQ(core->ImagePath(), file_.string());  // the path shown stays the earlier one
  EXPECT_EQ(view.Last("path "), file_.string());
#endif
}

TEST_F(DialogTest, EmptyPortEntryDisablesForOneTick) {
  ChooseImage();
  view.selections[kPortListId] = {0, ""};
  core->OnBurnClicked();
  EXPECT_TRUE(workers.empty());
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kHeldClosed);
  EXPECT_TRUE(view.AllInputsEnabled(false));
  EXPECT_TRUE(view.TimerRunning());
  EXPECT_EQ(view.Last("elapsed "), "");
  EXPECT_EQ(view.Last("speed "), "");
  core->OnTimer();
  EXPECT_TRUE(view.AllInputsEnabled(true));
  EXPECT_FALSE(view.TimerRunning());
}

TEST_F(DialogTest, RunGoesThroughEveryState) {
  ChooseImage();
  Gate opening, burning, reporting;
  beforeOpen = [&] { opening.WaitHere(); };
  bool burningSeen = false;
  view.onEvent = [&](const std::string& event) {
    if (event == "progress 30" && !burningSeen) {
      burningSeen = true;
      burning.WaitHere();
    }
    if (event == std::string("message ") + kBurnSuccessText)
      reporting.WaitHere();
  };

  core->OnBurnClicked();  // Starting
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kHeldClosed);
  EXPECT_TRUE(view.AllInputsEnabled(false));
  EXPECT_TRUE(view.TimerRunning());

  opening.WaitUntilReached();  // Opening port: ticks count nothing
  EXPECT_FALSE(core->Burning());
  EXPECT_EQ(core->workerFinished, 0u);
  core->OnTimer();
  EXPECT_EQ(view.Last("elapsed "), "");
  opening.Open();

  burning.WaitUntilReached();  // Burning: the loader is in, the image stage has begun
  EXPECT_TRUE(core->Burning());
  EXPECT_TRUE(view.AllInputsEnabled(false));
  burning.Open();

  reporting.WaitUntilReached();  // Reporting: time frozen, still disabled
  EXPECT_FALSE(core->Burning());
  EXPECT_EQ(core->workerFinished, 0u);
  EXPECT_EQ(view.Last("progress "), "100");
  EXPECT_TRUE(view.AllInputsEnabled(false));
  reporting.Open();

  ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));  // Finished
  EXPECT_TRUE(view.AllInputsEnabled(false));
  core->OnTimer();  // Idle
  EXPECT_TRUE(view.AllInputsEnabled(true));
  EXPECT_FALSE(view.TimerRunning());
  EXPECT_EQ(view.Last("progress "), "100");
#ifdef _WIN32
  EXPECT_EQ(openedPaths, std::vector<std::string>{"\\\\.\\COM1001"});  // its device, always
#else
  EXPECT_EQ(openedPaths, std::vector<std::string>{"COM1001"});  // no such port: the name itself
#endif
  const auto& flash = chip->chip.FlashMemory().Cells();
  const auto bytes = testing::ImageBytes(6000);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
  EXPECT_TRUE(lastPortClosed);
}

TEST_F(DialogTest, BurnAgainWithoutOpenUsesTheSamePath) {
  ChooseImage();
  for (int run = 0; run < 2; ++run) {
    core->OnBurnClicked();
    ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));
    core->OnTimer();
    EXPECT_EQ(view.Last("message "), kBurnSuccessText);
    EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kHeldClosed);
  }
  EXPECT_EQ(view.EventsStartingWith("message ").size(), 2u);
}

// The window reads the image by its content as the command line does: an Intel HEX file burns
// the bytes it holds where it places them, not its text.
TEST_F(DialogTest, HexImageBurnsTheBytesItHolds) {
  const auto bytes = testing::ImageBytes(600, 3);
  std::ofstream(file_, std::ios::binary) << testing::HexOf(bytes, 0x100);
  ChooseImage();
  core->OnBurnClicked();
  ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));
  EXPECT_EQ(view.Last("message "), kBurnSuccessText);
  std::vector<uint8_t> expected(0x100 + bytes.size(), 0xFF);
  std::copy(bytes.begin(), bytes.end(), expected.begin() + 0x100);
  EXPECT_TRUE(chip->chip.FlashHolds(expected));
}

// A HEX file that cannot be burned is refused at Open with its line, and Burn stays off.
TEST_F(DialogTest, DamagedHexImageIsRefusedAtOpen) {
  std::string hex = testing::HexOf(testing::ImageBytes(64, 3), 0);
  const size_t checksum = hex.find('\n', hex.find('\n') + 1) - 2;  // the second record's
  const std::string right = hex.substr(checksum, 2);
  const std::string wrong =
      testing::HexDigits({static_cast<uint8_t>(std::stoi(right, nullptr, 16) + 1)});
  hex.replace(checksum, 2, wrong);
  std::ofstream(file_, std::ios::binary) << hex;
  view.chosenFile = file_.string();
  core->OnOpenClicked();
  EXPECT_EQ(view.Last("message "), file_.string() + " line 2: the checksum is 0x" + wrong +
                                       " where the record's bytes need 0x" + right);
  EXPECT_EQ(core->ImageFile(), DialogCore::ImageFileState::kNone);
  EXPECT_FALSE(view.Enabled(kBurnButtonId));
}

TEST_F(DialogTest, FailingChipShowsTheStatus) {
  ChooseImage();
  chipOptions.silent = true;
  core->OnBurnClicked();
  ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));
  EXPECT_EQ(view.Last("message "), "Burn Flash Img Fail ! Error=b0006");
  core->OnTimer();
  EXPECT_TRUE(view.AllInputsEnabled(true));
}

TEST_F(DialogTest, ImageUnreadableAtBurnTime) {
  ChooseImage();
  fs::resize_file(file_, 0);
  core->OnBurnClicked();
  ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));
  EXPECT_EQ(view.Last("message "), "Burn Flash Img Fail ! Error=505");
}

TEST_F(DialogTest, NoThreadForTheWorker) {
  ChooseImage();
  failThreads = true;
  core->OnBurnClicked();
  EXPECT_EQ(view.Last("message "), kWorkerFailedText);
  EXPECT_TRUE(view.AllInputsEnabled(true));
  EXPECT_FALSE(view.TimerRunning());
  EXPECT_EQ(core->workerFinished, 1u);
}

TEST_F(DialogTest, ClosingDuringARunLeavesTheWindowAlone) {
  ChooseImage();
  Gate burning;
  bool stopped = false;
  view.onEvent = [&](const std::string& event) {
    if (event == "progress 30" && !stopped) {
      stopped = true;
      burning.WaitHere();
    }
  };
  core->OnBurnClicked();
  burning.WaitUntilReached();
  core->OnClose();
  const size_t eventsAtClose = view.Events().size();
  std::weak_ptr<DialogCore> alive = core;
  core.reset();  // the window lets go of the logic; the worker keeps it
  EXPECT_FALSE(alive.expired());
  burning.Open();
  ASSERT_TRUE(WaitFor([&] { return alive.expired(); }));  // the worker ran to its end
  // The recorded "progress 30" was the last thing the window saw.
  EXPECT_EQ(view.Events().size(), eventsAtClose + 1);
  EXPECT_EQ(view.Events().back(), "progress 30");
  // The close stopped the burn: the image never went into the chip, and the port was closed.
  EXPECT_FALSE(chip->chip.BurnEnded());
  EXPECT_TRUE(lastPortClosed);
}

TEST_F(DialogTest, LoaderFromTheCommandLineGoesIntoTheChip) {
  const std::vector<uint8_t> loader = testing::ImageBytes(700, 9);
  core->SetLoader(std::make_shared<const std::vector<uint8_t>>(loader));
  ChooseImage();
  core->OnBurnClicked();
  ASSERT_TRUE(WaitFor([&] { return core->workerFinished == 1; }));
  EXPECT_EQ(view.Last("message "), kBurnSuccessText);
  const auto& ram = chip->chip.Rom().Ram();
  EXPECT_TRUE(std::equal(loader.begin(), loader.end(), ram.begin() + 0xC00));
}

// tarvok-gui's own options are taken out of its arguments whatever their place and form, the
// others left in order for the toolkit; a stage without a loader of its own, or one --classic
// would leave unused, is refused in one line.
TEST(DialogOptions, TakenOutAndCheckedTogether) {
  const std::filesystem::path dir = testing::TestFolder("tarvok-dialog-options");
  const std::string loader = testing::WriteBytes(dir, "loader.bin", testing::ImageBytes(300));
  const std::string stage = testing::WriteBytes(dir, "stage.bin", testing::ImageBytes(40));
  const std::string big = testing::WriteBytes(dir, "big.bin", testing::ImageBytes(257));
  const struct {
    const char* name = "";
    std::vector<std::string> args{};
    std::string problem{};
    std::vector<std::string> left{};
    bool loader = false, stage = false, classic = false;
  } cases[] = {
      {.name = "both files and the flag among the toolkit's",
       .args = {"-style", "fusion", "--loader", loader, "--boot-stage=" + stage, "--x"},
       .left = {"-style", "fusion", "--x"},
       .loader = true,
       .stage = true},
      {.name = "--classic alone", .args = {"--classic"}, .classic = true},
      {.name = "a stage for the built-in loader",
       .args = {"--boot-stage", stage},
       .problem = "--boot-stage needs --loader: the built-in loader brings its own boot stage"},
      {.name = "a stage --classic leaves unused",
       .args = {"--classic", "--loader=" + loader, "--boot-stage", stage},
       .problem = "--boot-stage excludes --classic: the stage would not be used"},
      {.name = "a stage too large",
       .args = {"--loader", loader, "--boot-stage", big},
       .problem = "boot stage " + big + " has 257 bytes; a boot stage has at most 256"},
      {.name = "a stage option at the end",
       .args = {"--boot-stage"},
       .problem = "--boot-stage needs a file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    DialogBurnOptions options;
    EXPECT_EQ(TakeDialogBurnOptions(args, options), c.problem);
    if (!c.problem.empty()) {
      continue;
    }
    EXPECT_EQ(args, c.left);
    EXPECT_EQ(options.loader != nullptr, c.loader);
    EXPECT_EQ(options.bootStage != nullptr, c.stage);
    EXPECT_EQ(options.classic, c.classic);
    if (c.stage) {
      EXPECT_EQ(*options.bootStage, testing::ImageBytes(40));
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvok
