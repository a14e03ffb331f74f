#include "sim/ChipReport.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarvok::sim {

void LineRecord::NoteFault(const Chip& chip) {
  const RamProgram* loader = chip.RunningLoader();
  if (loader != nullptr && loader->Stats().trailerSent) {
    ++faultsAfterTrailer_;
  }
}

void LineRecord::NoteHangUp(const Chip& chip) {
  NoteFault(chip);
  hungUp_ = true;
}

ChipReport ReportOf(const Chip& chip, const LineRecord& line) {
  ChipReport report;
  report.hungUp = line.HungUp();
  report.faultsAfterTrailer = line.FaultsAfterTrailer();
  report.sentencesHeard = chip.SentencesHeard();
  report.flashHoldsAcceptedImage = chip.FlashHoldsAcceptedImage();
  report.stage = chip.StageStats();
  if (const RamProgram* loader = chip.RunningLoader(); loader != nullptr) {
    report.loaderRan = true;
    report.loader = loader->Stats();
    if (const AcceptedStream* accepted = loader->Accepted(); accepted != nullptr) {
      report.accepted = *accepted;
      report.streamRecorded = true;
    }
    report.finishArrived = report.loader.finished;
    report.streamComplete = report.accepted.complete;
  }
  return report;
}

namespace {

// How far the boot stage got, in the report's words.
std::string StageLine(const BootStageStats& stage) {
  if (stage.silent) {
    return "started, never answered";
  }
  if (stage.nothingThere) {
    return "started on empty RAM (nothing was downloaded there), never answered";
  }
  if (stage.emulated) {
    return "run by the emulated CPU";
  }
  if (stage.refused) {
    return stage.loadCommand ? "refused the loader (its CRC-32 did not match)"
                             : "refused the load command's length";
  }
  if (stage.loaderStarted) {
    return "brought the loader in at " + std::to_string(stage.loaderRate) + " baud";
  }
  if (stage.loaderArrived) {
    return "took the loader, but its start never came";
  }
  if (stage.loadCommand) {
    return std::to_string(stage.loaderBytes) + " of the loader's bytes arrived";
  }
  return "no load command arrived";
}

}  // namespace

int PrintReport(const ChipReport& report, const ImageCheck* image) {
  if (report.stage.started) {
    std::printf("boot stage: %s\n", StageLine(report.stage).c_str());
  }
  std::printf("finish: %s\n", report.finishArrived ? "arrived"
                              : report.hungUp      ? "never arrived (the line went dead)"
                                                   : "never arrived");
  std::printf("handshake sentences heard: %u\n", report.sentencesHeard);
  std::printf("blocks accepted: %u, rejected: %u\n", report.loader.blocksAccepted,
              report.loader.rejections);
  std::printf("flash: %s\n",
              !report.loaderRan ? "not compared (no loader ran)"
              : !report.streamRecorded
                  ? "not compared (the emulated CPU keeps no record of what its loader accepted)"
              : !report.streamComplete         ? "no complete image accepted"
              : report.flashHoldsAcceptedImage ? "holds the image it accepted"
                                               : "differs from the image it accepted");
  if (image == nullptr) {
    return 0;
  }
  if (image->holds) {
    std::printf("expected image: in flash\n");
  } else {
    std::printf(
        "expected image: not in flash (first difference at 0x%08X: 0x%02X where the "
        "image has 0x%02X)\n",
        image->firstDifference, image->flashByte, image->imageByte);
  }
  return report.finishArrived && image->holds ? 0 : 3;
}

}  // namespace tarvok::sim
