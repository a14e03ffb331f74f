// One port's tile in the station window: its name, its state in large words on a colour, the
// detail, the last unit number, the counts, the bar, and its buttons.
#pragma once

#include <QFrame>

#include "station/panel/StationTile.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarvok {

class StationTileWidget : public QFrame {
  Q_OBJECT

 public:
  explicit StationTileWidget(QWidget* parent = nullptr);
  void Show(const StationTile& tile);

  QLabel* portLabel;
  QLabel* wordsLabel;
  QLabel* detailLabel;
  QLabel* unitLabel;
  QLabel* countsLabel;
  QProgressBar* bar;
  QPushButton* startStopButton;
  QPushButton* nextBoardButton;

 signals:
  void startClicked();
  void stopClicked();
  void nextBoardClicked();

 private:
  bool running_ = false;
};

}  // namespace tarvok
