// What the simulated chip can tell about a burn once it is over, and how tarvok-sim prints it
// at exit.
#pragma once

#include <cstdint>

#include "sim/Chip.h"

namespace tarvok::sim {

struct ChipReport {
  bool finishArrived = false;  // the loader received 0xE5
  bool hungUp = false;         // the line went dead on a fault
  // Faults the line put on the host's bytes after the stream's trailer: a finish that never
  // arrived may have been lost to them.
  uint32_t faultsAfterTrailer = 0;
  uint32_t sentencesHeard = 0;
  bool loaderRan = false;  // a loader (the model or the emulated CPU) ran at all
  // The running loader keeps a record of the stream it accepted (the emulated CPU does not).
  bool streamRecorded = false;
  bool streamComplete = false;  // the loader accepted every byte its parameters announced
  bool flashHoldsAcceptedImage = false;
  AcceptedStream accepted;
  LoaderStats loader;
  BootStageStats stage;
};

// What the line did to a burn, noted as it happens for the report.
class LineRecord {
 public:
  // A fault on one of the host's bytes (lost, doubled, a bit flipped, or the line going dead
  // at it): it counts when the loader had already sent the stream's trailer.
  void NoteFault(const Chip& chip);
  void NoteHangUp(const Chip& chip);
  bool HungUp() const { return hungUp_; }
  uint32_t FaultsAfterTrailer() const { return faultsAfterTrailer_; }

 private:
  bool hungUp_ = false;
  uint32_t faultsAfterTrailer_ = 0;
};

ChipReport ReportOf(const Chip& chip, const LineRecord& line);

// Prints the report (tarvok-sim prints it after the path, on standard output) and returns
// the exit status. With an expected image (`image` not null) the status says whether the burn
// truly happened: 0, or 3 when the finish never arrived or the flash does not hold the image.
int PrintReport(const ChipReport& report, const ImageCheck* image);

}  // namespace tarvok::sim
