// One port's tile in the station window: its name, its state in large words on a colour, the
// detail, the last unit number, the counts, the bar, and its buttons. Every tile of the window
// is the same size, and its text is sized to the tile so that it reads from a distance on a
// large screen and still fits on a small one.
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
  bool Running() const { return running_; }

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

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ScaleText();
  void ShowPortName();

  bool running_ = false;
  QString portName_;
};

}  // namespace tarvok
