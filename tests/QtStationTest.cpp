// The station window on Qt (offscreen): simulated fixtures on pseudo-terminals, burned through
// the window's own buttons; and its layout, read from a distance at any size.
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <memory>

#include "app/qt/station/StationTileWidget.h"
#include "app/qt/station/StationWindow.h"
#include "app/qt/tools/SimulatedStation.h"

namespace tarvok {
namespace {

constexpr int kBurnsMs = 180'000;

QString Words(const StationTileWidget* tile) {
  return tile->wordsLabel->text();
}

// Answers the station's question with Yes, once, and keeps its text.
class QuestionAnswerer {
 public:
  QuestionAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        question = box->text();
        box->button(QMessageBox::Yes)->click();
      }
    });
    timer_.start(20);
  }
  QString question;

 private:
  QTimer timer_;
};

// Laid out at `width` x `height` as the window system would.
void Resize(StationWindow& window, int width, int height) {
  window.resize(width, height);
  QApplication::processEvents();
  window.layout()->activate();
  QApplication::processEvents();
}

}  // namespace

class QtStationTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SimulatedStation> station_;
  std::unique_ptr<StationWindow> window_;

  void Open(const std::vector<SimulatedFixture>& fixtures) {
    std::string error;
    station_ = SimulatedStation::Start(fixtures, error);
    QVERIFY2(station_ != nullptr, error.c_str());
    window_ = std::make_unique<StationWindow>(station_->TakeParts(), RealStationWorld());
    Resize(*window_, 1100, 820);
    window_->show();
  }

  // Every board of the first fixture and the first three of the second passed; the tiles, the
  // records list, the log and the header all say so.
  void CheckBurned() {
    StationWindow& window = *window_;
    QCOMPARE(window.tiles[0]->countsLabel->text(), QString("pass 3   fail 0"));
    QCOMPARE(window.tiles[1]->countsLabel->text(), QString("pass 3   fail 0"));
    QCOMPARE(window.recordsList->count(), 6);
    for (int row = 0; row < window.recordsList->count(); ++row) {
      QVERIFY2(window.recordsList->item(row)->text().contains(" PASS "),
               qPrintable(window.recordsList->item(row)->text()));
    }
    const std::vector<std::string> lines = station_->LogLines();
    QCOMPARE(lines.size(), std::size_t{6});
    for (const std::string& line : lines) {
      QVERIFY2(line.find("\"result\":\"pass\"") != std::string::npos, line.c_str());
    }
    QCOMPARE(window.totalsLabel->text(), QString("pass 6   fail 0"));
    QVERIFY(window.rateLabel->text().endsWith(" boards per hour"));
  }

 private slots:
  void init() { qputenv("XDG_RUNTIME_DIR", "/tmp"); }
  void cleanup() {
    window_.reset();
    station_.reset();
  }

  // Start all burns every fixture's boards and cannot be pressed again while every port runs;
  // one tile's Stop stops its port alone; closing the window in mid-burn asks, and the board
  // answered Yes for is logged and counted as interrupted.
  void burnsStopsOnePortAndClosesMidBurn() {
    Open({{.boards = 3}, {.boards = 4, .throttle = true}});
    StationWindow& window = *window_;
    bool sawBurning = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      for (const StationTileWidget* tile : window.tiles) {
        sawBurning = sawBurning || Words(tile).startsWith("BURNING");
      }
    });
    watch.start(20);
    window.startButton->click();
    QVERIFY(!window.startButton->isEnabled());
    QVERIFY(window.stopButton->isEnabled());
    // Until the tiles show it: the panel's counts run a moment ahead of the widgets.
    QTRY_VERIFY_WITH_TIMEOUT(window.Panel().Tile(0).counts.passed == 3 &&
                                 window.Panel().Tile(1).counts.passed == 3 &&
                                 Words(window.tiles[0]) == "WAITING FOR BOARD" &&
                                 window.tiles[1]->countsLabel->text() == "pass 3   fail 0",
                             kBurnsMs);
    QVERIFY(sawBurning);
    CheckBurned();

    StationTileWidget& first = *window.tiles[0];
    first.startStopButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(Words(&first), QString("STOPPED"), 10'000);
    QCOMPARE(first.startStopButton->text(), QString("Start"));
    QVERIFY2(first.detailLabel->text().contains("stopped by the operator"),
             qPrintable(first.detailLabel->text()));
    QVERIFY(window.startButton->isEnabled());
    QVERIFY(Words(window.tiles[1]) != "STOPPED");

    StationTileWidget& second = *window.tiles[1];
    QTRY_VERIFY_WITH_TIMEOUT(Words(&second).startsWith("BURNING") && second.bar->value() >= 5,
                             60'000);
    QuestionAnswerer answerer;
    QVERIFY(window.close());
    QVERIFY2(answerer.question.startsWith("A board is burning."), qPrintable(answerer.question));
    QTRY_COMPARE_WITH_TIMEOUT(second.countsLabel->text(),
                              QString("pass 3   fail 0   interrupted 1"), 10'000);
    const std::vector<std::string> lines = station_->LogLines();
    QCOMPARE(lines.size(), std::size_t{7});
    QVERIFY2(lines.back().find("\"result\":\"interrupted\"") != std::string::npos,
             lines.back().c_str());
  }

  // The tiles share the grid equally whatever they say, their text grows with the screen and
  // fits the tile, the header's lines keep apart and the lists under the tiles show several
  // lines at the window's first size.
  void readsFromADistanceAtAnySize() {
    Open({{.boards = 1}, {.boards = 1}});
    StationWindow& window = *window_;
    StationTile failed = window.Panel().Tile(0);
    failed.words = "FAIL";
    failed.detail =
        "the chip answered a write with a flash error at 0x0003f000; the board is "
        "to be burned again or set aside";
    window.ShowTile(0, failed);
    StationTile waiting = window.Panel().Tile(1);
    waiting.words = "WAITING FOR BOARD";
    window.ShowTile(1, waiting);
    window.ShowHeader({"line 1",
                       "release-4.2-with-a-long-name.bin   262144 bytes   SHA-256 "
                       "0123456789ab",
                       "pass 1486   fail 12   interrupted 3", "1486 boards per hour",
                       "log /srv/line1/tarvok.jsonl"});
    for (const QSize size : {QSize(1100, 820), QSize(1920, 1040), QSize(900, 700)}) {
      Resize(window, size.width(), size.height());
      const QString at = QString("at %1 x %2").arg(size.width()).arg(size.height());
      // The grid's odd pixel aside.
      const QSize first = window.tiles[0]->size();
      const QSize second = window.tiles[1]->size();
      QVERIFY2(std::abs(first.width() - second.width()) <= 1 && first.height() == second.height(),
               qPrintable(at));
      for (const StationTileWidget* tile : window.tiles) {
        const QFontMetrics words(tile->wordsLabel->font());
        QVERIFY2(words.horizontalAdvance(Words(tile)) <= tile->wordsLabel->width(), qPrintable(at));
        QVERIFY2(tile->countsLabel->geometry().bottom() < tile->startStopButton->geometry().top(),
                 qPrintable(at));
        QVERIFY2(tile->startStopButton->geometry().bottom() < tile->height(), qPrintable(at));
      }
      QVERIFY2(window.imageLabel->geometry().right() + 40 < window.rateLabel->geometry().left(),
               qPrintable(at));
      const int line = QFontMetrics(window.recordsList->font()).lineSpacing();
      QVERIFY2(window.recordsList->viewport()->height() >= 5 * line, qPrintable(at));
      QVERIFY2(window.settingsText->viewport()->height() >= 5 * line, qPrintable(at));
    }
    Resize(window, 1920, 1040);
    QVERIFY(window.tiles[0]->countsLabel->font().pixelSize() >= 36);
    QVERIFY(window.tiles[0]->portLabel->font().pixelSize() >= 32);
  }
};

}  // namespace tarvok

QTEST_MAIN(tarvok::QtStationTest)
#include "QtStationTest.moc"
