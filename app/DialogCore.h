// The main dialog's logic, free of any toolkit: choosing the image ("Open"), starting a burn
// on a worker thread ("Burn"), the burning and idle states of the controls, the one-second
// tick, the result messages and closing during a run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/BurnRun.h"
#include "app/DialogOptions.h"
#include "app/DialogView.h"
#include "app/PortChoices.h"
#include "app/PortSetup.h"
#include "app/StartSignal.h"
#include "burn/BurnRequest.h"
#include "burn/FlashImage.h"

namespace tarvok {

inline constexpr const char* kChooseImageText = "Please choose a IMG file!";
inline constexpr const char* kImageOpenErrorText = "Img File open error";
inline constexpr const char* kWorkerFailedText =
    "Cannot start the burn: no thread could be created.";

// Starts `body` on a new thread; false when no thread could be made.
using WorkerStarter = std::function<bool(std::function<void()> body)>;
bool StartDetachedThread(std::function<void()> body);

class DialogCore : public std::enable_shared_from_this<DialogCore> {
 public:
  enum class ImageFileState { kNone, kHeldOpen, kHeldClosed };

  // Shared ownership: a worker keeps the core (its port, descriptors and run state) alive
  // even when the window goes away during a run.
  static std::shared_ptr<DialogCore> Create(std::shared_ptr<DialogView> view,
                                            WorkerStarter startWorker = StartDetachedThread,
                                            DeviceOpener openDevice = OpenSerialDevice);
  ~DialogCore();
  // Downloads `loader` instead of the RAM loader built in (tarvok-gui --loader FILE).
  void SetLoader(std::shared_ptr<const std::vector<uint8_t>> loader) {
    options_.loader = std::move(loader);
  }
  // The loader, its boot stage and --classic, as tarvok-gui's command line gave them.
  void SetBurnOptions(DialogBurnOptions options) { options_ = std::move(options); }
  DialogCore(const DialogCore&) = delete;
  DialogCore& operator=(const DialogCore&) = delete;

  void OnInitDialog();
  void OnOpenClicked();
  void OnBurnClicked();
  void OnTimer();
  // The close request (also Enter and Escape during a run): the window may go at once; a
  // running worker is not waited for and no longer touches the window.
  void OnClose();

  // A worker still runs (after OnClose: one the program must not wait for without bound).
  bool WorkerRunning() const { return workerRunning_; }
  // After OnClose: waits up to `limit` for the worker, which stops its burn at the next byte
  // boundary and sets the port back; true when it has ended.
  bool AwaitStoppedWorker(std::chrono::milliseconds limit) const;
  ImageFileState ImageFile() const { return imageFileState_; }
  const std::string& ImagePath() const { return imagePath_; }
  bool Burning() const { return run_.burning != 0; }
  const BurnRun& Run() const { return run_; }
  BurnRun& Run() { return run_; }

  std::atomic<uint32_t> workerFinished{1};

 private:
  // The window as the worker sees it: every call handed over to the window's thread, and
  // none at all once the window has gone.
  class WorkerSide : public ProgressView {
   public:
    explicit WorkerSide(DialogCore& core) : core_(core) {}
    void SetProgress(uint8_t percent) override;
    void SetSpeedText(const std::string& text) override;
    void SetElapsedText(const std::string& text) override;
    void ShowMessage(const std::string& text);

   private:
    DialogCore& core_;
  };
  // The dialog's lists as the request is built from them, on the window's thread.
  class Lists : public PortChoices {
   public:
    explicit Lists(DialogView& view) : view_(view) {}
    int32_t SelectedIndex(int controlId) const override { return view_.SelectedIndex(controlId); }
    std::string SelectedText(int controlId) const override { return view_.SelectedText(controlId); }

   private:
    DialogView& view_;
  };

  DialogCore(std::shared_ptr<DialogView> view, WorkerStarter startWorker, DeviceOpener openDevice);
  void PrepareBurnImages();
  void EnterBurningState();
  void EnterIdleState();
  void BurnWorker();
  void FinishBurnRun();
  void ShowBurnError(uint32_t status);
  void OnBurnTick();
  void HandOver(const std::function<void()>& task);

  // Shared with the window so that a worker outliving the window still has an object to
  // ask, even if it only answers that the window has gone.
  std::shared_ptr<DialogView> viewOwner_;
  DialogView& view_;
  WorkerStarter startWorker_;
  DeviceOpener openDevice_;
  WorkerSide workerSide_{*this};
  BurnRun run_{workerSide_};
  std::atomic<bool> windowGone_{false};
  std::atomic<bool> workerRunning_{false};
  std::unique_ptr<StartSignal> startSignal_;
  std::atomic<bool> stopRequested_{false};  // the window has closed: the burn stops
  DialogBurnOptions options_;
  // The burn the worker runs: built on the window's thread before the worker is let go.
  BurnRequest request_;
  std::shared_ptr<FlashImage> currentImage_;
  std::string imagePath_;
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> imageFile_;
  ImageFileState imageFileState_ = ImageFileState::kNone;
  void (DialogCore::*tickHandler_)() = nullptr;
};

}  // namespace tarvok
