#include "app/qt/station/StationTileWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tarvok {
namespace {

// The longest of the state's words: the words' size is chosen so that it fits the tile.
constexpr const char* kLongestWords = "WAITING FOR BOARD";
constexpr int kSmallestPixels = 11;
constexpr int kSpacingPixels = 70;  // the layout's margins and spacing, about

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

// A label whose text never widens its tile: the tile's size is the grid's, not the text's.
QLabel* Label(bool bold, bool wrap, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  label->setWordWrap(wrap);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return label;
}

void SetPixels(QWidget* widget, int pixels) {
  QFont font = widget->font();
  font.setPixelSize(std::max(pixels, kSmallestPixels));
  widget->setFont(font);
}

}  // namespace

StationTileWidget::StationTileWidget(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Box);
  setLineWidth(2);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  portLabel = Label(true, false, this);
  wordsLabel = Label(true, false, this);
  detailLabel = Label(false, true, this);
  unitLabel = Label(false, false, this);
  countsLabel = Label(true, false, this);
  bar = new QProgressBar(this);
  bar->setRange(0, 100);
  startStopButton = new QPushButton(tr("Start"), this);
  nextBoardButton = new QPushButton(tr("Next board"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startStopButton);
  buttons->addWidget(nextBoardButton);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(portLabel);
  layout->addWidget(wordsLabel);
  layout->addWidget(bar);
  layout->addWidget(detailLabel);
  layout->addWidget(unitLabel);
  layout->addWidget(countsLabel);
  layout->addStretch(1);
  layout->addLayout(buttons);
  connect(startStopButton, &QPushButton::clicked, this,
          [this] { running_ ? emit stopClicked() : emit startClicked(); });
  connect(nextBoardButton, &QPushButton::clicked, this, &StationTileWidget::nextBoardClicked);
  ScaleText();
}

void StationTileWidget::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  ScaleText();
}

// The tile's lines take about five and a half times the words' height, with the spacing; the
// words are smaller where the longest of them would not fit the tile's width, and the rest of
// the text is sized after them.
void StationTileWidget::ScaleText() {
  const int width = contentsRect().width() - 2 * layout()->contentsMargins().left();
  int words = std::max((height() - kSpacingPixels) * 2 / 11, kSmallestPixels);
  QFont font = wordsLabel->font();
  for (;; words -= 2) {
    font.setPixelSize(words);
    if (words <= kSmallestPixels || QFontMetrics(font).horizontalAdvance(kLongestWords) <= width) {
      break;
    }
  }
  SetPixels(wordsLabel, words);
  SetPixels(portLabel, words * 6 / 10);
  SetPixels(countsLabel, words * 7 / 10);
  SetPixels(unitLabel, words * 45 / 100);
  SetPixels(detailLabel, words * 4 / 10);
  for (QPushButton* button : {startStopButton, nextBoardButton}) {
    SetPixels(button, words * 4 / 10);
    button->setMinimumHeight(words * 8 / 10);
  }
  bar->setFixedHeight(std::max(words / 2, 16));
  ShowPortName();
}

// A long port name loses its middle, not its end, which tells one fixture from the next.
void StationTileWidget::ShowPortName() {
  const int width = contentsRect().width() - 2 * layout()->contentsMargins().left();
  portLabel->setText(
      QFontMetrics(portLabel->font()).elidedText(portName_, Qt::ElideMiddle, std::max(width, 0)));
  portLabel->setToolTip(portName_);
}

void StationTileWidget::Show(const StationTile& tile) {
  running_ = tile.running;
  setStyleSheet(QString("tarvok--StationTileWidget { %1 } QLabel { %1 }").arg(StyleOf(tile.tone)));
  portName_ = QString::fromStdString(tile.port);
  ShowPortName();
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
