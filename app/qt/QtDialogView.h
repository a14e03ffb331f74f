// The dialog logic's window on Qt. It outlives the dialog when a worker keeps the logic
// alive after the window has closed, and then does nothing.
#pragma once

#include <QPointer>

#include "app/DialogView.h"
#include "app/qt/TarvokDlg.h"

namespace tarvok {

class QtDialogView : public DialogView {
 public:
  void Attach(CTarvokDlg* dialog) { dialog_ = dialog; }

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
  // Runs `task` on the application's thread and waits; at once when already there.
  void HandOver(const std::function<void()>& task) override;

 private:
  QPointer<CTarvokDlg> dialog_;
};

}  // namespace tarvok
