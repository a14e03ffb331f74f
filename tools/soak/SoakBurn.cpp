#include "tools/soak/SoakBurn.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/PortSetup.h"
#include "burn/BurnSequence.h"
#include "burn/EmbeddedLoader.h"

namespace tarvok::soak {
namespace {

using Clock = std::chrono::steady_clock;

// The dialog's choices for the plan's port and rates, 8 data bits, no parity, one stop bit.
class PlanChoices : public PortChoices {
 public:
  PlanChoices(const std::string& path, const BurnPlan& plan) : path_(path), plan_(plan) {}
  int32_t SelectedIndex(int controlId) const override {
    switch (controlId) {
      case kPortListId:
        return 1;  // the first entry is the empty one
      case kBurnRateListId:
        return plan_.burnRateList;
      default:
        return 0;
    }
  }
  std::string SelectedText(int controlId) const override {
    switch (controlId) {
      case kPortListId:
        return path_;
      case kOriginalRateListId:
        return std::to_string(plan_.romRate);
      case kDataBitsListId:
        return "8";
      case kParityListId:
        return "NOPARITY";
      case kStopBitsListId:
        return "ONESTOPBIT";
      default:
        return {};
    }
  }
  void ShowMessage(const std::string& text) override { message = text; }
  std::string message;

 private:
  std::string path_;
  const BurnPlan& plan_;
};

// The image as a burn prepares it: burned from 0 with erase, in 1,024-byte blocks.
std::unique_ptr<FlashImage> MakeFlashImage(const std::vector<uint8_t>& bytes) {
  auto image = CreateFlashImage();
  image->path = "soak.bin";
  image->size = static_cast<uint32_t>(bytes.size());
  auto data = std::make_unique<uint8_t[]>(bytes.size());
  std::memcpy(data.get(), bytes.data(), bytes.size());
  image->data = std::move(data);
  image->startAddress = 0;
  image->endAddress = image->size - 1;
  image->valid = 1;
  image->eraseFlag = 1;
  image->blockSize = kDefaultBlockSize;
  return image;
}

// More bytes than any burn of this image can send, every block resent as often as the host
// allows, with the loader download and the handshake on top.
uint64_t RunawayBytes(uint32_t imageSize) {
  const uint64_t blocks = imageSize / kDefaultBlockSize + 1;
  return (uint64_t{imageSize} + blocks * 4 + 64) * (kMaxBlockRejections + 1) + 4 * 1024 * 1024;
}

// The host's side of the burn as the dialog runs it: the image and the embedded loader
// prepared, and the burn sequence over the opened port.
struct HostBurn {
  HostBurn(const BurnPlan& plan, const std::vector<uint8_t>& bytes, const PortState& state)
      : image(MakeFlashImage(bytes)) {
    CreateLoaderImage(&loader);
    loader->LoadEmbedded(kEmbeddedLoader, kEmbeddedLoaderLength);
    record.handle = state.portHandle.get();
    record.burnRateIndex = state.burnRateIndex;
    loaderJob.loader = plan.fullRun ? loader.get() : nullptr;
    loaderJob.triesPerCycle = kBurnTriesPerCycle;
    loaderJob.cycles = kBurnCycles;
    imageJob.image = image.get();
  }
  uint32_t Run() {
    LoaderHello hello;
    return BurnOverHandle(&loaderJob, &imageJob, &record, &hello);
  }

  std::unique_ptr<FlashImage> image;
  std::unique_ptr<LoaderImage> loader;
  PortRecord record;
  LoaderJob loaderJob;
  ImageJob imageJob;
};

// Watches the host until its burn is done; true when it went quiet for longer than its most
// patient wait or sent more than any burn of the image can.
bool HostHangs(const sim::PtyChip& chip, const std::atomic<bool>& done, uint64_t runaway) {
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (chip.HostQuietMs() > kLongestHostSilenceMs || chip.BytesFromHost() > runaway) {
      return true;
    }
  }
  return false;
}

// Gives a hung host, whose line has gone dead, three seconds to return; false when it does not.
bool HostReturns(const std::atomic<bool>& done) {
  for (int waited = 0; !done && waited < 3000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done;
}

// What became of a burn the host finished with `status`, from the chip's side.
void Classify(uint32_t status, const std::vector<uint8_t>& bytes, const sim::PtyChip& chip,
              BurnResult& result) {
  const sim::ChipReport report = chip.Report();
  result.sentencesHeard = report.sentencesHeard;
  result.rejections = report.loader.rejections;
  if (status != kBurnOk) {
    result.outcome = Outcome::kReportedFailure;
  } else if (!chip.FlashHolds(bytes)) {
    result.detail = ExplainWrongFlash(bytes, report.accepted);
    result.outcome =
        result.detail.empty() ? Outcome::kWrongFlashDefect : Outcome::kWrongFlashExplained;
    if (result.detail.empty()) {
      result.detail = "the chip accepted what the host sent, yet its flash differs";
    }
  } else if (!report.finishArrived) {
    result.outcome =
        report.faultsAfterTrailer > 0 ? Outcome::kFinishLostToFaults : Outcome::kFinishLost;
  } else {
    result.outcome = Outcome::kSuccess;
  }
}

}  // namespace

BurnResult RunBurn(const BurnPlan& plan) {
  BurnResult result;
  std::string error;
  std::unique_ptr<sim::PtyChip> chip = sim::PtyChip::Start(plan.chip, &error);
  if (!chip) {
    result.detail = error;
    return result;
  }
  const std::vector<uint8_t> bytes = PlanImage(plan);
  PlanChoices choices(chip->Path(), plan);
  PortState state;
  OpenSelectedPort(choices, state);
  if (state.portOpen == 0) {
    result.detail = "the port did not open: " + choices.message;
    return result;
  }
  HostBurn burn(plan, bytes, state);

  const auto start = Clock::now();
  std::atomic<bool> done{false};
  uint32_t status = 0;
  std::thread host([&] {
    status = burn.Run();
    done = true;
  });
  const uint64_t runaway = RunawayBytes(plan.imageSize);
  if (HostHangs(*chip, done, runaway)) {
    result.outcome = Outcome::kHang;
    result.detail = chip->BytesFromHost() > runaway ? "the host kept sending past any bound"
                                                    : "the host went silent past its longest wait";
    chip.reset();  // the line goes dead: every read of the host fails from now on
    if (!HostReturns(done)) {
      host.detach();  // it never returns: the process ends without it
      return result;
    }
    host.join();
    CloseSelectedPort(state);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
  }
  host.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseSelectedPort(state);
  result.status = status;
  if (status == kBurnOk) {
    chip->WaitForBurnEnd(3000);  // the finish may still be on its way
  }
  Classify(status, bytes, *chip, result);
  return result;
}

}  // namespace tarvok::soak
