// The dialog's logic with a fake window, a fake serial port and a simulated chip, in virtual
// time: the burn's waits cost nothing, the tests tick the one-second timer themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/DialogCore.h"
#include "app/ProgressText.h"
#include "app/StartSignal.h"
#include "app/StoppableDevice.h"
#include "tests/support/ChipOnWire.h"
#include "tests/support/FakeDialogView.h"
#include "tests/support/ImageFactory.h"

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
    if (c.imageStage) {
      BurnRun::OnImageStageProgress(c.p, 1, 2, &run);
    } else {
      BurnRun::OnLoaderStageProgress(c.p, 1, 2, &run);
    }
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
  BurnRun::OnLoaderStageStart(&run);
  for (int k = 0; k < 75; ++k)
    run.OnBurnTick();
  EXPECT_EQ(view.Last("elapsed "), "01:15 sec");

  // The image stage restarts the speed but not the elapsed time.
  BurnRun::OnImageStageStart(&run);
  EXPECT_EQ(view.Last("progress "), "30");
  BurnRun::OnImageStageProgress(4, 3840, 100000, &run);
  EXPECT_EQ(view.Last("speed "), "0 Bps");
  for (int k = 0; k < 3; ++k)
    run.OnBurnTick();
  BurnRun::OnImageStageProgress(9, 10240, 100000, &run);
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

// The command line reads the image once: each run's image shares those bytes read-only and
// reads nothing again (the file may be gone by then), with the burn's own settings.
TEST(BurnRunImages, SharedFromOneRead) {
  const fs::path file = fs::temp_directory_path() / ("tarvok-shared-" + std::to_string(getpid()));
  const auto bytes = testing::ImageBytes(3000);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  FlashImage source;
  ASSERT_EQ(source.LoadFile(file.string().c_str()), 0u);
  fs::remove(file);
  for (int run = 0; run < 2; ++run) {
    std::unique_ptr<FlashImage> image;
    std::unique_ptr<LoaderImage> loader;
    PrepareBurnImages(source, image, loader);
    EXPECT_EQ(image->data.get(), source.data.get());
    EXPECT_EQ(image->path, file.string());
    EXPECT_EQ(image->IsValid(), 0u);
    EXPECT_EQ(image->endAddress, 2999u);
    EXPECT_EQ(image->eraseFlag, 1);
    EXPECT_EQ(image->blockSize, 1024u);
    EXPECT_EQ(loader->size, 8728u);
  }
}

// A stop request ends the run at the next byte boundary wherever it comes: nothing more goes
// on the wire, no protocol wait is sat out, and the line can be set back to where it began.
TEST(BurnRunStop, EndsAtTheNextByteBoundary) {
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
    FakeSerialDevice device;
    sim::ChipOptions options;
    options.flashBytes = 512 * 1024;
    options.silent = c.silentChip;
    ChipOnWire wire(device, options);
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
    StoppableDevice port(device, stop);
    FakeDialogView view;
    view.onEvent = [&](const std::string& event) {
      if (!stop && event.rfind("progress ", 0) == 0 &&
          std::stoi(event.substr(9)) >= c.stopAtPercent) {
        stopNow();
      }
    };
    std::unique_ptr<FlashImage> image;
    std::unique_ptr<LoaderImage> loader;
    PrepareBurnImages(*testing::MakeImage(testing::ImageBytes(100 * 1024)), image, loader);
    BurnRun run(view);
    EXPECT_NE(run.RunBurn(&port, 4 /* 921600 for the image */, loader.get(), image.get()), kBurnOk);
    EXPECT_TRUE(port.Stopped());
    EXPECT_EQ(device.Written().size(), writtenAtStop);
    EXPECT_LT(device.NowUs() - stoppedAtUs, 100'000u);  // no idle second or read time-out
    EXPECT_TRUE(port.RestoreLine());
    EXPECT_EQ(device.BaudRate(), 9600u);
    EXPECT_EQ(device.EventsOf(FakeSerialDevice::EventKind::kPurge).back().value, kPurgeAll);
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
  EXPECT_EQ(burnPortHandle.load(), nullptr);  // the port was closed
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
}

}  // namespace
}  // namespace tarvok
