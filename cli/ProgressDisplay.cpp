#include "cli/ProgressDisplay.h"

namespace tarvok::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr uint8_t kImageStageStart = 30;

}  // namespace

PortProgress::PortProgress(std::string port, std::ostream& plainOut, std::mutex& outputLock,
                           bool plain)
    : port_(std::move(port)), plainOut_(plainOut), outputLock_(outputLock), plain_(plain) {}

void PortProgress::SetProgress(uint8_t percent) {
  std::string lines;
  {
    std::lock_guard lock(mutex_);
    percent_ = percent;
    const int stage = percent < kImageStageStart ? 0 : 1;
    if (stage != lastStage_) {
      lastStage_ = stage;
      lines += port_ + (stage == 0 ? ": loading the RAM loader into the chip\n"
                                   : ": burning the image into flash\n");
    }
    if (percent / 10 != lastDecile_) {
      lastDecile_ = percent / 10;
      lines += port_ + ": " + std::to_string(percent) + "%  " + elapsed_ + "  " + speed_ + "\n";
    }
  }
  if (plain_ && !lines.empty()) {
    std::lock_guard lock(outputLock_);
    plainOut_ << lines << std::flush;
  }
}

void PortProgress::SetSpeedText(const std::string& text) {
  std::lock_guard lock(mutex_);
  speed_ = text;
}

void PortProgress::SetElapsedText(const std::string& text) {
  std::lock_guard lock(mutex_);
  elapsed_ = text;
}

std::string PortProgress::Line() const {
  std::lock_guard lock(mutex_);
  const int filled = percent_ * kBarWidth / 100;
  return port_ + "  [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
         std::to_string(percent_) + "%  " + elapsed_ + "  " + speed_;
}

PortProgress& ProgressDisplay::Add(const std::string& port) {
  ports_.push_back(std::make_unique<PortProgress>(port, out_, outputLock_, !redraw_));
  return *ports_.back();
}

void ProgressDisplay::Redraw() {
  if (!redraw_) {
    return;
  }
  std::lock_guard lock(outputLock_);
  if (drawn_) {
    out_ << "\x1b[" << ports_.size() << "F";  // back to the first line
  }
  for (const auto& port : ports_) {
    out_ << "\x1b[2K" << port->Line() << "\n";
  }
  out_.flush();
  drawn_ = true;
}

}  // namespace tarvok::cli
