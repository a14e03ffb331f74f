// The dialog logic's window on Win32: the controls of template 101 by ID, timer 1, message
// boxes, the file-open dialog, and hand-over to the window's thread by a private message.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "app/DialogView.h"

namespace tarvok {

inline constexpr const wchar_t* kApplicationTitle = L"Tarvok";
// The private message that runs a handed-over task; its LPARAM is the task.
inline constexpr UINT kHandOverMessage = WM_APP + 1;
inline constexpr UINT_PTR kBurnTimerId = 1;

class Win32DialogView : public DialogView {
 public:
  // Binds to the dialog window; call on the window's own thread.
  void Attach(HWND dialog);
  HWND Window() const { return dialog_; }

  void SetProgress(uint8_t percent) override;
  void SetSpeedText(const std::string& text) override;
  void SetElapsedText(const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  int32_t SelectedIndex(int controlId) const override;
  std::string SelectedText(int controlId) const override;
  void SetPathText(const std::string& path) override;
  void StartTimer() override;
  void StopTimer() override;
  void ShowMessageBox(const std::string& text) override;
  std::optional<std::string> ChooseImageFile() override;
  void HandOver(const std::function<void()>& task) override;

  // Where a test program puts its own file choice in place of the file-open dialog.
  std::function<std::optional<std::string>()> chooseFile;

 private:
  HWND dialog_ = nullptr;
  DWORD windowThread_ = 0;
};

}  // namespace tarvok
