// What the dialog's logic needs of a window: its controls by ID, a timer, message boxes and a
// way to run work on the window's own thread. The Qt dialog implements it on Linux, a Win32
// dialog can implement it on Windows, and the tests implement it without any window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/BurnRun.h"

namespace tarvok {

// Control IDs of the main dialog.
inline constexpr int kOpenButtonId = 2002;
inline constexpr int kPathEditId = 2004;
inline constexpr int kBurnButtonId = 2007;
inline constexpr int kProgressBarId = 3001;
inline constexpr int kSpeedLabelId = 3006;
inline constexpr int kElapsedLabelId = 3007;

class DialogView : public ProgressView {
 public:
  virtual void EnableControl(int controlId, bool enabled) = 0;
  virtual int32_t SelectedIndex(int controlId) const = 0;  // -1: none
  virtual std::string SelectedText(int controlId) const = 0;
  virtual void SetPathText(const std::string& path) = 0;
  // The one-second timer whose ticks come back as DialogCore::OnTimer.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;
  // A message box with OK and the exclamation icon; returns when the user has closed it.
  virtual void ShowMessageBox(const std::string& text) = 0;
  // The file-open dialog (images by their usual names first, then "Bin file (*.bin)"); nothing
  // when the user cancels.
  virtual std::optional<std::string> ChooseImageFile() = 0;
  // Runs `task` on the window's thread and returns once it has run. Called from the burn
  // worker; on the window's own thread it runs `task` at once.
  virtual void HandOver(const std::function<void()>& task) = 0;
};

}  // namespace tarvok
