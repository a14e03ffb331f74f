// The command line's progress display: on a terminal one line per port redrawn in place,
// otherwise plain lines at stage changes and every 10 %.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/BurnRun.h"

namespace tarvok::cli {

class PortProgress : public ProgressView {
 public:
  // `loaderStage` false: the chip already runs the loader, so no loader stage is announced.
  PortProgress(std::string port, std::ostream& plainOut, std::mutex& outputLock, bool plain,
               bool loaderStage);

  void SetProgress(uint8_t percent) override;
  void SetSpeedText(const std::string& text) override;
  void SetElapsedText(const std::string& text) override;
  // The run has ended: the line shows `speed`, the image stage's average (a stage shorter
  // than the one-second tick would otherwise end on "0 Bps"). In plain mode the 100 % line,
  // held back until now, is printed with it.
  void Finish(const std::string& speed);

  // One line: port, bar, percent, elapsed time, speed.
  std::string Line() const;

 private:
  std::string port_;
  std::ostream& plainOut_;
  std::mutex& outputLock_;
  bool plain_;
  bool loaderStage_;
  mutable std::mutex mutex_;
  uint8_t percent_ = 0;
  std::string speed_ = "0 Bps";
  std::string elapsed_ = "00:00";
  int lastDecile_ = -1;
  int lastStage_ = -1;
};

class ProgressDisplay {
 public:
  ProgressDisplay(std::ostream& out, bool redrawInPlace) : out_(out), redraw_(redrawInPlace) {}
  PortProgress& Add(const std::string& port, bool loaderStage);
  // Redraws the lines in place (terminal mode only), leaving the cursor below them.
  void Redraw();

 private:
  std::ostream& out_;
  bool redraw_;
  std::mutex outputLock_;
  std::vector<std::unique_ptr<PortProgress>> ports_;
  bool drawn_ = false;
};

}  // namespace tarvok::cli
