#include "cli/ProgressDisplay.h"

namespace tarvok::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr uint8_t kImageStageStart = 30;

}  // namespace

PortProgress::PortProgress(std::string port, std::ostream& plainOut, std::mutex& outputLock,
                           bool plain, bool loaderStage)
    : port_(std::move(port)),
      plainOut_(plainOut),
      outputLock_(outputLock),
      plain_(plain),
      loaderStage_(loaderStage) {}

void PortProgress::SetProgress(uint8_t percent) {
  std::string lines;
  {
    std::lock_guard lock(mutex_);
    percent_ = percent;
    const int stage = percent < kImageStageStart ? 0 : 1;
    if (stage != lastStage_) {
      lastStage_ = stage;
      if (stage == 1) {
        lines += port_ + ": burning the image into flash\n";
      } else if (loaderStage_) {
        lines += port_ + ": loading the RAM loader into the chip\n";
      }
    }
    // The 100 % line waits for Finish, which knows the stage's average speed.
    if (percent / 10 != lastDecile_ && percent < 100) {
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

void PortProgress::Finish(const std::string& speed) {
  std::string line;
  {
    std::lock_guard lock(mutex_);
    speed_ = speed;
    if (percent_ == 100) {
      line = port_ + ": 100%  " + elapsed_ + "  " + speed_ + "\n";
    }
  }
  if (plain_ && !line.empty()) {
    std::lock_guard lock(outputLock_);
    plainOut_ << line << std::flush;
  }
}

std::string PortProgress::Line() const {
  std::lock_guard lock(mutex_);
  const int filled = percent_ * kBarWidth / 100;
  return port_ + "  [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
         std::to_string(percent_) + "%  " + elapsed_ + "  " + speed_;
}

PortProgress& ProgressDisplay::Add(const std::string& port, bool loaderStage) {
  ports_.push_back(std::make_unique<PortProgress>(port, out_, outputLock_, !redraw_, loaderStage));
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
