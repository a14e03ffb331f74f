#include "app/OutcomeText.h"

#include "app/ProgressText.h"
#include "app/ReadBackWords.h"
#include "burn/BootStageLink.h"
#include "burn/BurnSequence.h"
#include "serial/NetworkPortName.h"

namespace tarvok {
namespace {

constexpr uint32_t kNoHello = 8;
constexpr uint32_t kNotAHello = 9;
constexpr const char* kNoImageInFlash = "; the flash does not hold the image";

// Which of the stream's failures it was, by the stream's own result.
std::string ExplainStreamFailure(uint32_t streamResult) {
  std::string what;
  switch (streamResult) {
    case 9:
      what = "the loader found the image larger than the chip's flash (block answered with 5)";
      break;
    case 10:
      what = "the loader reported a flash error: an erase or program failed (answer 6)";
      break;
    case 11:
      what = "the loader had no flash parameters before the stream (answer 7)";
      break;
    case 19:
      what = "the loader found the flash different from what it was sent when it read it back";
      break;
    case kStreamTooManyRejections:
      what =
          "the loader rejected one block 100 times in a row: the line is too noisy at this "
          "rate; try a lower burn rate or another cable";
      break;
    case 4:
    case 6:
    case 8:
    case 13:
    case 16:
    case 18:
      what = "the loader stopped answering";
      break;
    case 3:
    case 12:
    case 15:
      what = "a write to the port failed";
      break;
    default:
      what = "the loader answered out of turn";
      break;
  }
  return "the image stream failed: " + what + kNoImageInFlash;
}

// Which part of the boot stage's exchange failed, by the stage link's own result.
std::string ExplainStageFailure(uint32_t stageResult) {
  std::string what;
  switch (stageResult) {
    case kStageNoHello:
      what =
          "the boot stage did not answer: check that it is a stage for this board "
          "(--boot-stage FILE; the one built in is for the simulated chip)";
      break;
    case kStageNotAHello:
      what = "the chip answered something other than the boot stage's hello";
      break;
    case kStageNoAck:
    case kStageNoVerdict:
      what = "the boot stage stopped answering";
      break;
    case kStageRefusedLength:
      what = "the boot stage refused the RAM loader's length";
      break;
    case kStageRateFailed:
      what = "the port did not take the burn rate or the boot ROM's rate again";
      break;
    case kStageNotReady:
      what =
          "the boot stage did not answer at the burn rate: try a lower burn rate, or "
          "--classic";
      break;
    case kStageLoaderDamaged:
      what =
          "the RAM loader arrived damaged at the burn rate: try a lower burn rate or "
          "another cable";
      break;
    default:
      what = "a write to the port failed";
      break;
  }
  return what + "; " + kPowerCycleText;
}

// Why the read-back failed; the CRCs when both are known.
std::string ExplainReadBackFailure(const BurnOutcome& outcome) {
  switch (outcome.stepResult) {
    case kReadBackDiffers:
      return "the flash does not read back as the image (CRC-32 " + Crc32Text(outcome.flashCrc) +
             ", expected " + Crc32Text(outcome.imageCrc) +
             "): the flash does not hold the image; burn it again, and if it fails the same way "
             "check the chip's flash";
    case 3:
      return "the loader had no flash parameters when asked for the flash's CRC-32";
    case 1:
      return "a write to the port failed while asking for the flash's CRC-32";
    default:
      return "the loader did not answer the request for the flash's CRC-32, so the flash was not "
             "checked: a loader that only looks like ours needs --classic";
  }
}

}  // namespace

std::string ExplainBurnStatus(uint32_t status, uint32_t stepResult) {
  switch (status) {
    case 0:
      // What the chip confirmed, no more: the flash parameters and the stream header's
      // four data bytes carry no check, and errors that cancel out pass a block's sum.
      return "the chip accepted every block";
    case 2:
      return "the burn was started without a port, a job or an image";
    case 3:
      return "no port was open for the burn";
    case 0x505:
      return "the image is not valid: missing, empty, unreadable, or larger than the loader can "
             "address (128 MiB)";
    case 0x504:
      return "the RAM loader is not valid";
    case 0x20006:
      return "out of memory before the chip was spoken to";
    case 0xB0006:
      return "the boot ROM never answered the handshake: check the port, the boot-ROM rate and "
             "the chip's power; a chip that was just burned runs its new image and may need a "
             "power cycle before its boot ROM answers again";
    case 0xA0006:
      return "writing the RAM loader into the chip failed (a wrong echo or checksum): check the "
             "cable, the line settings and the boot-ROM rate";
    case 0xC0006:
      return "the boot ROM did not start the RAM loader";
    case kNoHello:
      return "the RAM loader did not announce itself after it was started: first check that it "
             "is a loader for this board (--loader FILE; the one built in is for the simulated "
             "chip), then the chip's power and the cable";
    case kNotAHello:
      return "the chip answered something other than the RAM loader's hello";
    case 10:
      return "the RAM loader announced a version other than 1.0";
    case 16:
      return "the RAM loader answered busy (0x1C) instead of its hello";
    case 11:
      return "the port's baud rate could not be read";
    case 12:
      return "the port could not be set back to its baud rate";
    case 13:
      return "the RAM loader did not take the flash parameters (erase)";
    case 14:
      return ExplainStreamFailure(stepResult);
    case kBurnBootStageFailed:
      return ExplainStageFailure(stepResult);
    default:
      return "unknown failure";
  }
}

void DescribeOutcome(BurnOutcome& outcome, const BurnRequest& request) {
  if (!outcome.portOpened && !outcome.openFailure.empty()) {
    outcome.summary = outcome.openFailure;
    outcome.explanation = outcome.openFailureReason;
    return;
  }
  if (outcome.interrupted) {
    outcome.summary = kInterruptedText;
    outcome.explanation = std::string(
                              "stopped on request at a byte boundary and the port set back; "
                              "the chip was left in the middle of the burn: ") +
                          kPowerCycleText;
    return;
  }
  outcome.summary = outcome.status == 0 ? kBurnSuccessText : BurnFailureText(outcome.status);
  if (outcome.status != 0 && outcome.portWentAway && HasNetworkScheme(request.devicePath)) {
    outcome.explanation =
        "the network port closed during the burn (the serial server or the network dropped the "
        "connection): check the server and the network; the flash does not hold the image, "
        "and the chip needs a power cycle before the next burn";
  } else if (outcome.status != 0 && outcome.portWentAway) {
    outcome.explanation =
        "the port went away during the burn (unplugged, or the line hung up): check the "
        "cable and the adapter; the flash does not hold the image";
  } else if (outcome.status == kNotAHello && request.loaderRunning) {
    outcome.explanation =
        "the chip answered something other than the RAM loader's hello: --loader-running "
        "expects a chip whose RAM loader has just been started; a chip still in its boot ROM "
        "needs a burn without --loader-running";
  } else if (outcome.status == kNoHello && request.loaderRunning) {
    outcome.explanation =
        "the RAM loader did not announce itself: --loader-running expects a loader that has "
        "just been started and is about to greet; it greets only once, so a chip left by an "
        "earlier burn needs a power cycle and a burn without --loader-running";
  } else if (outcome.status == kBurnReadBackFailed) {
    outcome.explanation = ExplainReadBackFailure(outcome);
  } else if (outcome.status == kBurnOk && outcome.readBack == ReadBack::kMatched) {
    outcome.explanation =
        "the flash reads back as the image (CRC-32 " + Crc32Text(outcome.flashCrc) + ")";
  } else {
    outcome.explanation = ExplainBurnStatus(outcome.status, outcome.stepResult);
  }
}

}  // namespace tarvok
