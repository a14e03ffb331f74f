#include "sim/ChipReport.h"

#include <cstdio>

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
  if (const RamProgram* loader = chip.RunningLoader(); loader != nullptr) {
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

int PrintReport(const ChipReport& report, bool checkImage, bool flashHoldsImage) {
  std::printf("finish: %s\n", report.finishArrived ? "arrived"
                              : report.hungUp      ? "never arrived (the line went dead)"
                                                   : "never arrived");
  std::printf("handshake sentences heard: %u\n", report.sentencesHeard);
  std::printf("blocks accepted: %u, rejected: %u\n", report.loader.blocksAccepted,
              report.loader.rejections);
  std::printf("flash: %s\n",
              !report.streamRecorded
                  ? "not compared (the emulated CPU keeps no record of what its loader accepted)"
              : !report.streamComplete         ? "no complete image accepted"
              : report.flashHoldsAcceptedImage ? "holds the image it accepted"
                                               : "differs from the image it accepted");
  if (!checkImage) {
    return 0;
  }
  std::printf("expected image: %s\n", flashHoldsImage ? "in flash" : "not in flash");
  return report.finishArrived && flashHoldsImage ? 0 : 3;
}

}  // namespace tarvok::sim
