#include "app/qt/QtDialogView.h"

#include <QApplication>
#include <QThread>

namespace tarvok {

void QtDialogView::SetProgress(uint8_t percent) {
  if (dialog_)
    dialog_->SetProgress(percent);
}
void QtDialogView::SetSpeedText(const std::string& text) {
  if (dialog_)
    dialog_->SetSpeedText(text);
}
void QtDialogView::SetElapsedText(const std::string& text) {
  if (dialog_)
    dialog_->SetElapsedText(text);
}
void QtDialogView::EnableControl(int controlId, bool enabled) {
  if (dialog_)
    dialog_->EnableControl(controlId, enabled);
}
int32_t QtDialogView::SelectedIndex(int controlId) const {
  return dialog_ ? dialog_->SelectedIndex(controlId) : 0;
}
std::string QtDialogView::SelectedText(int controlId) const {
  return dialog_ ? dialog_->SelectedText(controlId) : std::string();
}
void QtDialogView::SetPathText(const std::string& path) {
  if (dialog_)
    dialog_->SetPathText(path);
}
void QtDialogView::StartTimer() {
  if (dialog_)
    dialog_->StartTimer();
}
void QtDialogView::StopTimer() {
  if (dialog_)
    dialog_->StopTimer();
}
void QtDialogView::ShowMessageBox(const std::string& text) {
  if (dialog_)
    dialog_->ShowMessageBox(text);
}
std::optional<std::string> QtDialogView::ChooseImageFile() {
  return dialog_ ? dialog_->ChooseImageFile() : std::nullopt;
}

void QtDialogView::HandOver(const std::function<void()>& task) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    return;
  }
  // A blocking call made from the application's own thread would wait for itself.
  if (QThread::currentThread() == app->thread()) {
    task();
    return;
  }
  QMetaObject::invokeMethod(
      app, [&task] { task(); }, Qt::BlockingQueuedConnection);
}

}  // namespace tarvok
