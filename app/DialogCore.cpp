#include "app/DialogCore.h"

#include <system_error>
#include <thread>

#include "app/BurnEngine.h"
#include "app/DialogRequest.h"
#include "app/ImageText.h"
#include "app/ProgressText.h"
#include "burn/ImageFile.h"

namespace tarvok {

bool StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

std::shared_ptr<DialogCore> DialogCore::Create(std::shared_ptr<DialogView> view,
                                               WorkerStarter startWorker, DeviceOpener openDevice) {
  return std::shared_ptr<DialogCore>(
      new DialogCore(view, std::move(startWorker), std::move(openDevice)));
}

DialogCore::DialogCore(std::shared_ptr<DialogView> view, WorkerStarter startWorker,
                       DeviceOpener openDevice)
    : viewOwner_(std::move(view)),
      view_(*viewOwner_),
      startWorker_(std::move(startWorker)),
      openDevice_(std::move(openDevice)) {}

DialogCore::~DialogCore() = default;

void DialogCore::HandOver(const std::function<void()>& task) {
  if (windowGone_) {
    return;
  }
  // Checked again on the window's thread, where the close request is handled.
  view_.HandOver([this, &task] {
    if (!windowGone_) {
      task();
    }
  });
}

void DialogCore::WorkerSide::SetProgress(uint8_t percent) {
  core_.HandOver([this, percent] { core_.view_.SetProgress(percent); });
}

void DialogCore::WorkerSide::SetSpeedText(const std::string& text) {
  core_.HandOver([this, &text] { core_.view_.SetSpeedText(text); });
}

void DialogCore::WorkerSide::SetElapsedText(const std::string& text) {
  core_.HandOver([this, &text] { core_.view_.SetElapsedText(text); });
}

void DialogCore::WorkerSide::ShowMessage(const std::string& text) {
  core_.HandOver([this, &text] { core_.view_.ShowMessageBox(text); });
}

void DialogCore::OnInitDialog() {
  imageFile_.reset();
  imageFileState_ = ImageFileState::kNone;
  view_.SetProgress(0);
  view_.EnableControl(kBurnButtonId, false);
  view_.SetSpeedText("0 Bps");
  view_.SetElapsedText("00:00");
}

void DialogCore::OnOpenClicked() {
  const std::optional<std::string> chosen = view_.ChooseImageFile();
  if (!chosen) {
    view_.EnableControl(kBurnButtonId, true);
    return;
  }
  if (imageFileState_ == ImageFileState::kHeldOpen) {
    imageFile_.reset();
  }
  // The held file is never read: it proves the image can be opened. Anything but a regular
  // file (a FIFO would hold the window until a writer came) is refused as unreadable.
  imageFile_.reset(OpenRegularFile(chosen->c_str(), nullptr));
  if (!imageFile_) {
    imageFileState_ = ImageFileState::kNone;
    view_.ShowMessageBox(kImageOpenErrorText);
    return;
  }
  // A HEX, S-record or ELF file that cannot be burned (a bad checksum, data outside the flash)
  // is refused here, with its line or offset, before any port is opened.
  FlashImage decoded;
  // A raw binary is taken as before: its faults (empty, too short) fail the burn as not valid.
  if (const ImageProblem problem = ReadImage(*chosen, ImageReadOptions{}, decoded);
      problem && problem.format != ImageFormat::kBinary) {
    imageFile_.reset();
    imageFileState_ = ImageFileState::kNone;
    view_.ShowMessageBox(*chosen + " " + ImageProblemText(problem));
    return;
  }
  imageFileState_ = ImageFileState::kHeldOpen;
  imagePath_ = *chosen;
  view_.SetPathText(imagePath_);
  view_.EnableControl(kBurnButtonId, true);
}

void DialogCore::OnBurnClicked() {
  if (imageFileState_ == ImageFileState::kNone) {
    view_.ShowMessageBox(kChooseImageText);
    return;
  }
  if (imageFileState_ == ImageFileState::kHeldOpen) {
    imageFile_.reset();
    imageFileState_ = ImageFileState::kHeldClosed;  // still chosen: burned again by its path
  }
  const bool portChosen = view_.SelectedIndex(kPortListId) != 0;
  if (portChosen) {
    workerFinished = 0;
    startSignal_ = std::make_unique<StartSignal>();
    workerRunning_ = true;
    if (!startWorker_([self = shared_from_this()] { self->BurnWorker(); })) {
      workerRunning_ = false;
      workerFinished = 1;
      view_.ShowMessageBox(kWorkerFailedText);
      return;
    }
  }
  PrepareBurnImages();
  EnterBurningState();
  if (portChosen) {
    startSignal_->Give();
  }
}

// The image is read here, on the window's thread, in whatever form its file has; one that
// cannot be read is refused by the burn as not valid (0x505) and reported as a failed burn.
void DialogCore::PrepareBurnImages() {
  currentImage_ = CreateFlashImage();
  if (currentImage_ && !imagePath_.empty()) {
    // Decoded by its content; a file that changed into one that cannot be burned stays empty.
    ReadImage(imagePath_, ImageReadOptions{}, *currentImage_);
  }
  request_ = RequestFromDialogLists(Lists(view_));
  request_.image = currentImage_;
  request_.loader = options_.loader;
  request_.bootStage = options_.bootStage;
  request_.classic = options_.classic;
  request_.stop = StopToken(stopRequested_);
}

void DialogCore::EnterBurningState() {
  view_.StartTimer();
  tickHandler_ = &DialogCore::OnBurnTick;
  for (const int id : {kPortListId, kOriginalRateListId, kBurnRateListId, kDataBitsListId,
                       kParityListId, kStopBitsListId, kBurnButtonId, kOpenButtonId}) {
    view_.EnableControl(id, false);
  }
  view_.SetProgress(0);
  view_.SetElapsedText("");
  view_.SetSpeedText("");
}

void DialogCore::EnterIdleState() {
  view_.StopTimer();
  for (const int id : {kBurnButtonId, kOpenButtonId, kPortListId, kOriginalRateListId,
                       kBurnRateListId, kDataBitsListId, kParityListId, kStopBitsListId}) {
    view_.EnableControl(id, true);
  }
}

void DialogCore::BurnWorker() {
  if (workerFinished == 0) {
    startSignal_->Wait();
    const BurnOutcome outcome = Burn(request_, run_, openDevice_);
    if (!outcome.openFailure.empty()) {
      workerSide_.ShowMessage(outcome.openFailure);
    } else if (outcome.status == 0) {
      HandOver([this] { view_.ShowMessageBox(kBurnSuccessText); });
    } else {
      ShowBurnError(outcome.status);
    }
  }
  workerRunning_ = false;
  workerFinished = 1;  // the last act: the window's thread may now release the run
}

void DialogCore::ShowBurnError(uint32_t status) {
  HandOver([this, status] { view_.ShowMessageBox(BurnFailureText(status)); });
}

void DialogCore::OnTimer() {
  if (tickHandler_ != nullptr) {
    (this->*tickHandler_)();
  }
}

void DialogCore::OnBurnTick() {
  run_.OnBurnTick();
  if (workerFinished != 0) {
    FinishBurnRun();
  }
}

void DialogCore::FinishBurnRun() {
  EnterIdleState();
  if (workerRunning_) {
    return;  // never release what a running worker still reads
  }
  request_.image.reset();
  if (currentImage_) {
    currentImage_->UnloadData();
    currentImage_.reset();
  }
}

bool DialogCore::AwaitStoppedWorker(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (workerRunning_ && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !workerRunning_;
}

void DialogCore::OnClose() {
  if (imageFileState_ == ImageFileState::kHeldOpen) {
    imageFile_.reset();
    imageFileState_ = ImageFileState::kHeldClosed;
  }
  EnterIdleState();
  workerFinished = 1;
  windowGone_ = true;
  stopRequested_ = true;
}

}  // namespace tarvok
