#include "tools/soak/SoakBurn.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/BurnEngine.h"
#include "app/ReadBackWords.h"
#include "burn/BurnSequence.h"
#include "burn/EmbeddedLoader.h"
#include "burn/LoaderDeclaration.h"

namespace tarvok::soak {
namespace {

// The longest the host may legitimately go without sending a byte: its most patient read,
// 120 idle sleeps of 1 s and 121 reads of up to 0.51 s (a block's re-synchronisation, the
// stream's trailer), with a margin.
constexpr int64_t kLongestHostSilenceMs = 190'000;

using Clock = std::chrono::steady_clock;

std::shared_ptr<const FlashImage> MakeFlashImage(const std::vector<uint8_t>& bytes) {
  auto image = std::make_shared<FlashImage>();
  image->path = "soak.bin";
  image->size = static_cast<uint32_t>(bytes.size());
  auto data = std::make_unique<uint8_t[]>(bytes.size());
  std::memcpy(data.get(), bytes.data(), bytes.size());
  image->data = std::move(data);
  image->endAddress = image->size - 1;
  return image;
}

// The burn on its own thread, and what it leaves; shared, so that a host that never returns
// can be left behind.
struct HostRun {
  BurnRequest request;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  BurnOutcome outcome;
};

// More bytes than any burn of this image can send, every block resent as often as the host
// allows, with the loader download and the handshake on top.
uint64_t RunawayBytes(uint32_t imageSize) {
  const uint64_t blocks = imageSize / kDefaultBlockSize + 1;
  return (uint64_t{imageSize} + blocks * 4 + 64) * (kMaxBlockRejections + 1) + 4 * 1024 * 1024;
}

}  // namespace

namespace {

std::shared_ptr<HostRun> RequestFor(const BurnPlan& plan, const std::string& port,
                                    const std::vector<uint8_t>& bytes) {
  auto run = std::make_shared<HostRun>();
  run->request.portName = run->request.devicePath = port;
  run->request.line.romRate = plan.romRate;
  run->request.line.burnRate = plan.burnRate;
  run->request.image = MakeFlashImage(bytes);
  run->request.loaderRunning = !plan.fullRun;
  run->request.stop = StopToken(run->stop);
  return run;
}

// Watches the host until its burn ends; false when it went quiet past its most patient wait
// or kept sending past any bound.
bool HostKeptItsBounds(const sim::PtyChip& chip, const HostRun& run, uint32_t imageSize,
                       std::string& detail) {
  const uint64_t runaway = RunawayBytes(imageSize);
  while (!run.done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (chip.BytesFromHost() > runaway) {
      detail = "the host kept sending past any bound";
      return false;
    }
    if (chip.HostQuietMs() > kLongestHostSilenceMs) {
      detail = "the host went silent past its longest wait";
      return false;
    }
  }
  return true;
}

// A wrong flash behind a success: a defect where the loader declares the read-back, whatever
// let it through; otherwise one only when nothing the protocol leaves unchecked explains it.
// The detail says what let it through, and what the read-back said.
void ClassifyWrongFlash(const std::vector<uint8_t>& bytes, const sim::ChipReport& report,
                        bool readBackDeclared, BurnResult& result) {
  const std::string explanation = ExplainWrongFlash(bytes, report.accepted);
  result.outcome = readBackDeclared || explanation.empty() ? Outcome::kWrongFlashDefect
                                                           : Outcome::kWrongFlashExplained;
  result.detail = explanation.empty()
                      ? "the chip accepted what the host sent, yet its flash differs"
                      : explanation;
  if (readBackDeclared) {
    char crcs[96];
    std::snprintf(crcs, sizeof(crcs), " (flash CRC-32 0x%08X, image 0x%08X)", result.flashCrc,
                  result.imageCrc);
    result.detail = std::string("the flash read back as ") + ReadBackWord(result.readBack) +
                    (result.readBack == ReadBack::kNotAsked ? "" : crcs) + ": " + result.detail;
  }
}

// What the chip makes of a burn the host has ended with `outcome`. Where the loader declares
// the read-back, a wrong flash behind a success is a defect whatever let it through, and a
// success without a matching read-back is one too.
void ClassifyBurn(sim::PtyChip& chip, const std::vector<uint8_t>& bytes, const BurnOutcome& outcome,
                  BurnResult& result) {
  // The soak burns through the loader built in: when it declares the read-back, every
  // success must have read the flash back as the image.
  static const bool readBackDeclared =
      DeclaredAdditions(kEmbeddedLoader, kEmbeddedLoaderLength).flashCrc;
  result.status = outcome.status;
  result.stepResult = outcome.stepResult;
  result.readBack = outcome.readBack;
  result.imageCrc = outcome.imageCrc;
  result.flashCrc = outcome.flashCrc;
  if (outcome.status == kBurnOk) {
    chip.WaitForBurnEnd(3000);  // the finish may still be on its way
  }
  const sim::ChipReport report = chip.Report();
  result.sentencesHeard = report.sentencesHeard;
  result.rejections = report.loader.rejections;
  result.flashWrong = !chip.FlashHolds(bytes);
  if (outcome.status != kBurnOk) {
    result.outcome = Outcome::kReportedFailure;
  } else if (result.flashWrong) {
    ClassifyWrongFlash(bytes, report, readBackDeclared, result);
  } else if (readBackDeclared && outcome.readBack != ReadBack::kMatched) {
    result.outcome = Outcome::kUncheckedSuccess;
    result.detail = std::string("the flash read back as ") + ReadBackWord(outcome.readBack);
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
  const std::shared_ptr<HostRun> run = RequestFor(plan, chip->Path(), bytes);
  const auto start = Clock::now();
  std::thread host([run] {
    BurnProgressSink unwatched;
    run->outcome = Burn(run->request, unwatched);
    run->done = true;
  });
  if (!HostKeptItsBounds(*chip, *run, plan.imageSize, result.detail)) {
    result.outcome = Outcome::kHang;
    chip.reset();  // the line goes dead: every read of the host fails from now on
    run->stop = true;
    for (int waited = 0; !run->done && waited < 3000; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!run->done) {
      host.detach();  // it never returns: the process ends without it
      return result;
    }
    host.join();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
  }
  host.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!run->outcome.portOpened) {
    result.detail = "the port did not open: " + run->outcome.summary;
    return result;
  }
  ClassifyBurn(*chip, bytes, run->outcome, result);
  return result;
}

}  // namespace tarvok::soak
