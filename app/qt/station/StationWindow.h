// The station window on Qt: the header, a grid of port tiles, the station's Start and Stop,
// this run's records under the tiles and the settings, read-only. Everything it shows comes
// from the station's logic (StationPanel) through QtStationView.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "station/panel/StationPanel.h"

class QLabel;
class QLayout;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace tarvok {

class StationTileWidget;

class StationWindow : public QWidget {
  Q_OBJECT

 public:
  StationWindow(StationParts parts, StationWorld world, QWidget* parent = nullptr);
  ~StationWindow() override;

  void ShowHeader(const StationHeader& header);
  void ShowTile(std::size_t port, const StationTile& tile);
  void ShowRecords(const std::vector<std::string>& newestFirst);
  void ShowSettings(const std::vector<std::string>& lines);
  void ShowStationRunning(bool running);

  StationPanel& Panel() { return *panel_; }
  // How long closing waits for the ports to stop at their next byte.
  static constexpr int kCloseWaitMs = 10000;

  QLabel* titleLabel;
  QLabel* imageLabel;
  QLabel* totalsLabel;
  QLabel* rateLabel;
  QLabel* logLabel;
  QPushButton* startButton;
  QPushButton* stopButton;
  std::vector<StationTileWidget*> tiles;
  QListWidget* recordsList;
  QPlainTextEdit* settingsText;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLayout* MakeHeader();
  QLayout* MakeTiles(std::size_t portCount);
  QLayout* MakeLower();
  void Connect();

  std::shared_ptr<StationPanel> panel_;
  QTimer* tick_;
};

}  // namespace tarvok
