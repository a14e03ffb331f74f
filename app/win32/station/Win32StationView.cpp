#include "app/win32/station/Win32StationView.h"

#include <memory>

#include "app/win32/station/StationFrame.h"

namespace tarvok {

void Win32StationView::Attach(StationFrame* frame, HWND window) {
  frame_ = frame;
  window_ = window;
}

void Win32StationView::Detach() {
  const HWND window = window_.exchange(nullptr);
  frame_ = nullptr;
  MSG message;
  while (window != nullptr && PeekMessageW(&message, window, kStationHandOverMessage,
                                           kStationHandOverMessage, PM_REMOVE)) {
    delete reinterpret_cast<std::function<void()>*>(message.lParam);
  }
}

void Win32StationView::ShowHeader(const StationHeader& header) {
  if (frame_ != nullptr) {
    frame_->ShowHeader(header);
  }
}

void Win32StationView::ShowTile(std::size_t port, const StationTile& tile) {
  if (frame_ != nullptr) {
    frame_->ShowTile(port, tile);
  }
}

void Win32StationView::ShowRecords(const std::vector<std::string>& newestFirst) {
  if (frame_ != nullptr) {
    frame_->ShowRecords(newestFirst);
  }
}

void Win32StationView::ShowSettings(const std::vector<std::string>& lines) {
  if (frame_ != nullptr) {
    frame_->ShowSettings(lines);
  }
}

void Win32StationView::ShowStationRunning(bool running) {
  if (frame_ != nullptr) {
    frame_->ShowStationRunning(running);
  }
}

bool Win32StationView::Ask(const std::string& question) {
  return frame_ != nullptr && frame_->Ask(question);
}

void Win32StationView::HandOver(std::function<void()> task) {
  const HWND window = window_.load();
  if (window == nullptr) {
    return;
  }
  auto owned = std::make_unique<std::function<void()>>(std::move(task));
  if (PostMessageW(window, kStationHandOverMessage, 0, reinterpret_cast<LPARAM>(owned.get()))) {
    owned.release();  // the window's thread frees it as it runs it
  }
}

void Win32StationView::RunHandedOver(LPARAM lParam) {
  const std::unique_ptr<std::function<void()>> task(
      reinterpret_cast<std::function<void()>*>(lParam));
  (*task)();
}

}  // namespace tarvok
