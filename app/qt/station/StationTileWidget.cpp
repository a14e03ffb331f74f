#include "app/qt/station/StationTileWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvok {
namespace {

// Background and text colours per tone; the words say the same without them.
const char* StyleOf(TileTone tone) {
  switch (tone) {
    case TileTone::kIdle:
      return "background:#d8d8d8; color:#202020;";
    case TileTone::kWaiting:
      return "background:#cfe3f7; color:#0b2a4a;";
    case TileTone::kBurning:
      return "background:#ffd36b; color:#3a2a00;";
    case TileTone::kPass:
      return "background:#2e9e46; color:#ffffff;";
    case TileTone::kFail:
      return "background:#c62828; color:#ffffff;";
    case TileTone::kStopped:
      return "background:#505050; color:#ffffff;";
  }
  return "";
}

QLabel* Label(int pointSize, bool bold, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setPointSize(pointSize);
  font.setBold(bold);
  label->setFont(font);
  label->setWordWrap(true);
  return label;
}

}  // namespace

StationTileWidget::StationTileWidget(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Box);
  setLineWidth(2);
  setMinimumWidth(360);
  portLabel = Label(16, true, this);
  wordsLabel = Label(34, true, this);
  detailLabel = Label(12, false, this);
  unitLabel = Label(14, false, this);
  countsLabel = Label(18, true, this);
  bar = new QProgressBar(this);
  bar->setRange(0, 100);
  bar->setMinimumHeight(28);
  startStopButton = new QPushButton(tr("Start"), this);
  nextBoardButton = new QPushButton(tr("Next board"), this);
  for (QPushButton* button : {startStopButton, nextBoardButton}) {
    QFont font = button->font();
    font.setPointSize(14);
    button->setFont(font);
    button->setMinimumHeight(40);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startStopButton);
  buttons->addWidget(nextBoardButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(portLabel);
  layout->addWidget(wordsLabel);
  layout->addWidget(bar);
  layout->addWidget(detailLabel);
  layout->addWidget(unitLabel);
  layout->addWidget(countsLabel);
  layout->addStretch();
  layout->addLayout(buttons);
  connect(startStopButton, &QPushButton::clicked, this,
          [this] { running_ ? emit stopClicked() : emit startClicked(); });
  connect(nextBoardButton, &QPushButton::clicked, this, &StationTileWidget::nextBoardClicked);
}

void StationTileWidget::Show(const StationTile& tile) {
  running_ = tile.running;
  setStyleSheet(QString("tarvok--StationTileWidget { %1 } QLabel { %1 }").arg(StyleOf(tile.tone)));
  portLabel->setText(QString::fromStdString(tile.port));
  wordsLabel->setText(QString::fromStdString(tile.words));
  detailLabel->setText(QString::fromStdString(tile.detail));
  unitLabel->setText(QString::fromStdString(tile.unit));
  countsLabel->setText(QString::fromStdString(tile.countsText));
  bar->setVisible(tile.percent >= 0);
  bar->setValue(tile.percent < 0 ? 0 : tile.percent);
  startStopButton->setText(tile.running ? tr("Stop") : tr("Start"));
  nextBoardButton->setVisible(tile.nextBoard);
}

}  // namespace tarvok
