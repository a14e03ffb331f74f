#include "app/qt/station/QtStationView.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace tarvok {

void QtStationView::ShowHeader(const StationHeader& header) {
  if (window_)
    window_->ShowHeader(header);
}
void QtStationView::ShowTile(std::size_t port, const StationTile& tile) {
  if (window_)
    window_->ShowTile(port, tile);
}
void QtStationView::ShowRecords(const std::vector<std::string>& newestFirst) {
  if (window_)
    window_->ShowRecords(newestFirst);
}
void QtStationView::ShowSettings(const std::vector<std::string>& lines) {
  if (window_)
    window_->ShowSettings(lines);
}
void QtStationView::ShowStationRunning(bool running) {
  if (window_)
    window_->ShowStationRunning(running);
}

bool QtStationView::Ask(const std::string& question) {
  if (!window_) {
    return true;
  }
  return QMessageBox::question(window_, QObject::tr("Tarvok station"),
                               QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void QtStationView::HandOver(std::function<void()> task) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    return;
  }
  QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

}  // namespace tarvok
