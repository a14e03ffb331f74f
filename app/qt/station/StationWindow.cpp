#include "app/qt/station/StationWindow.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "app/qt/station/QtStationView.h"
#include "app/qt/station/StationTileWidget.h"

namespace tarvok {
namespace {

constexpr int kTickMs = 5000;
constexpr int kHeaderGap = 48;  // pixels at least between the image's line and the rate
constexpr int kLowerLines = 6;  // lines the records and the settings show at the least

QLabel* HeaderLabel(int pointSize, bool bold, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setPointSize(pointSize);
  font.setBold(bold);
  label->setFont(font);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QPushButton* BigButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  QFont font = button->font();
  font.setPointSize(16);
  font.setBold(true);
  button->setFont(font);
  button->setMinimumSize(160, 48);
  return button;
}

}  // namespace

StationWindow::StationWindow(StationParts parts, StationWorld world, QWidget* parent)
    : QWidget(parent) {
  setWindowTitle(tr("Tarvok station - %1").arg(QString::fromStdString(parts.setup.name)));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(MakeHeader());
  layout->addLayout(MakeTiles(parts.setup.ports.size()), 3);
  layout->addLayout(MakeLower(), 1);

  auto view = std::make_shared<QtStationView>();
  view->Attach(this);
  panel_ = StationPanel::Create(std::move(parts), std::move(world), view);
  Connect();
  panel_->OnOpen();
}

// The station's name, image and log on the left; the counts, the rate and the station's
// buttons on the right, with room between them however long the image's name.
QLayout* StationWindow::MakeHeader() {
  titleLabel = HeaderLabel(22, true, this);
  imageLabel = HeaderLabel(14, false, this);
  totalsLabel = HeaderLabel(18, true, this);
  rateLabel = HeaderLabel(14, false, this);
  logLabel = HeaderLabel(11, false, this);
  startButton = BigButton(tr("Start all"), this);
  stopButton = BigButton(tr("Stop all"), this);

  auto* header = new QGridLayout;
  header->setHorizontalSpacing(kHeaderGap);
  header->setColumnStretch(0, 1);
  header->addWidget(titleLabel, 0, 0);
  header->addWidget(imageLabel, 1, 0);
  header->addWidget(logLabel, 2, 0);
  header->addWidget(totalsLabel, 0, 1, Qt::AlignRight);
  header->addWidget(rateLabel, 1, 1, Qt::AlignRight);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startButton);
  buttons->addWidget(stopButton);
  header->addLayout(buttons, 0, 2, 2, 1);
  return header;
}

// Two columns up to four ports, then three, four from nine on; every cell the same size.
QLayout* StationWindow::MakeTiles(std::size_t portCount) {
  const int columns = portCount <= 1 ? 1 : portCount <= 4 ? 2 : portCount <= 9 ? 3 : 4;
  const int rows = static_cast<int>((portCount + static_cast<std::size_t>(columns) - 1) /
                                    static_cast<std::size_t>(columns));
  auto* grid = new QGridLayout;
  for (std::size_t port = 0; port < portCount; ++port) {
    auto* tile = new StationTileWidget(this);
    tiles.push_back(tile);
    grid->addWidget(tile, static_cast<int>(port) / columns, static_cast<int>(port) % columns);
  }
  for (int column = 0; column < columns; ++column) {
    grid->setColumnStretch(column, 1);
  }
  for (int row = 0; row < rows; ++row) {
    grid->setRowStretch(row, 1);
  }
  return grid;
}

QLayout* StationWindow::MakeLower() {
  recordsList = new QListWidget(this);
  QFont recordsFont("Monospace");
  recordsFont.setStyleHint(QFont::TypeWriter);
  recordsFont.setPointSize(11);
  recordsList->setFont(recordsFont);
  settingsText = new QPlainTextEdit(this);
  settingsText->setReadOnly(true);
  settingsText->setFont(recordsFont);
  for (QWidget* box : std::initializer_list<QWidget*>{recordsList, settingsText}) {
    box->setMinimumHeight(QFontMetrics(recordsFont).lineSpacing() * kLowerLines);
  }
  auto* recordsBox =
      new QGroupBox(tr("Last boards (newest first, times in UTC as in the log)"), this);
  (new QVBoxLayout(recordsBox))->addWidget(recordsList);
  auto* settingsBox = new QGroupBox(tr("Settings (from the station, read-only)"), this);
  (new QVBoxLayout(settingsBox))->addWidget(settingsText);
  auto* lower = new QHBoxLayout;
  lower->addWidget(recordsBox, 3);
  lower->addWidget(settingsBox, 2);
  return lower;
}

void StationWindow::Connect() {
  for (std::size_t port = 0; port < tiles.size(); ++port) {
    StationTileWidget* tile = tiles[port];
    connect(tile, &StationTileWidget::startClicked, this,
            [this, port] { panel_->OnStartPort(port); });
    connect(tile, &StationTileWidget::stopClicked, this,
            [this, port] { panel_->OnStopPort(port); });
    connect(tile, &StationTileWidget::nextBoardClicked, this,
            [this, port] { panel_->OnNextBoard(port); });
  }
  connect(startButton, &QPushButton::clicked, this, [this] { panel_->OnStartStation(); });
  connect(stopButton, &QPushButton::clicked, this, [this] { panel_->OnStopStation(); });
  tick_ = new QTimer(this);
  connect(tick_, &QTimer::timeout, this, [this] { panel_->OnTick(); });
  tick_->start(kTickMs);
}

StationWindow::~StationWindow() = default;

void StationWindow::ShowHeader(const StationHeader& header) {
  titleLabel->setText(QString::fromStdString(header.title));
  imageLabel->setText(QString::fromStdString(header.image));
  totalsLabel->setText(QString::fromStdString(header.totals));
  rateLabel->setText(QString::fromStdString(header.rate));
  logLabel->setText(QString::fromStdString(header.log));
}

void StationWindow::ShowTile(std::size_t port, const StationTile& tile) {
  tiles.at(port)->Show(tile);
}

void StationWindow::ShowRecords(const std::vector<std::string>& newestFirst) {
  recordsList->clear();
  for (const std::string& line : newestFirst) {
    recordsList->addItem(QString::fromStdString(line));
  }
}

void StationWindow::ShowSettings(const std::vector<std::string>& lines) {
  QString text;
  for (const std::string& line : lines) {
    text += QString::fromStdString(line) + "\n";
  }
  settingsText->setPlainText(text);
}

// Start all has nothing to start while every port runs; the tiles are shown before this.
void StationWindow::ShowStationRunning(bool running) {
  stopButton->setEnabled(running);
  startButton->setEnabled(
      !std::all_of(tiles.begin(), tiles.end(), [](const auto* tile) { return tile->Running(); }));
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!panel_->OnCloseRequested()) {
    event->ignore();
    return;
  }
  tick_->stop();
  if (!panel_->AwaitStopped(std::chrono::milliseconds(kCloseWaitMs))) {
    // A port that has not stopped in time is left to the program's end rather than waited
    // for: the logic stays alive (never freed) so that its thread has something to call.
    static_cast<void>(new std::shared_ptr<StationPanel>(panel_));
  }
  event->accept();
}

}  // namespace tarvok
