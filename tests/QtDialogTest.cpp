// The real dialog on Qt (offscreen), burning into simulated chips over pseudo-terminals.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/qt/TarvokDlg.h"
#include "sim/PtyChip.h"
#include "tests/support/ImageFactory.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int k = 0; k < list->count(); ++k)
    items << list->itemText(k);
  return items;
}

// Answers the message boxes the dialog opens (the worker hands them to this thread) and
// remembers their texts.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts.push_back(box->text());
        icons.push_back(box->icon());
        captions.push_back(box->windowTitle());
        box->button(QMessageBox::Ok)->click();
      }
    });
    timer_.start(20);
  }
  QStringList texts;
  std::vector<QMessageBox::Icon> icons;
  QStringList captions;

 private:
  QTimer timer_;
};

}  // namespace

class QtDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<sim::PtyChip> chip_;
  std::string image_;
  std::vector<uint8_t> bytes_;

  void StartChip(const sim::PtyChipOptions& options) {
    std::string error;
    chip_ = sim::PtyChip::Start(options, &error);
    QVERIFY2(chip_ != nullptr, error.c_str());
    setenv("TARVOK_EXTRA_PORTS", chip_->Path().c_str(), 1);
  }
  // A dialog with the chip's port chosen and the image opened.
  std::unique_ptr<CTarvokDlg> ReadyDialog() {
    auto dialog = std::make_unique<CTarvokDlg>();
    dialog->SetFileChooser([this](QWidget*) { return image_; });
    dialog->show();
    dialog->portList->setCurrentIndex(dialog->portList->findText("COM1001"));
    dialog->openButton->click();
    return dialog;
  }

 private slots:
  void initTestCase() {
    image_ =
        (fs::temp_directory_path() / ("tarvok-qt-" + std::to_string(getpid()) + ".bin")).string();
    bytes_ = testing::ImageBytes(30000, 3);
    std::ofstream(image_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes_.data()),
               static_cast<std::streamsize>(bytes_.size()));
  }
  void cleanupTestCase() { fs::remove(image_); }
  void cleanup() { chip_.reset(); }

  void listsAndDefaults() {
    StartChip({});
    CTarvokDlg dialog;
    QCOMPARE(dialog.windowTitle(), QString("Tarvok V2.6"));
    // The empty entry first, the machine's own ports, then the simulated chip's.
    const QStringList ports = Items(dialog.portList);
    QCOMPARE(ports.first(), QString(""));
    QCOMPARE(ports.last(), QString("COM1001"));
    QCOMPARE(dialog.portList->currentIndex(), 0);
    QCOMPARE(Items(dialog.originalRateList), (QStringList{"9600", "115200"}));
    QCOMPARE(dialog.originalRateList->currentText(), QString("9600"));
    QCOMPARE(Items(dialog.burnRateList), (QStringList{"115200", "230400", "460800", "921600"}));
    QCOMPARE(dialog.burnRateList->currentText(), QString("921600"));
    QCOMPARE(Items(dialog.parityList),
             (QStringList{"NOPARITY", "ODDPARITY", "EVENPARITY", "MARKPARITY", "SPACEPARITY"}));
    QCOMPARE(dialog.parityList->currentIndex(), 0);
    QCOMPARE(Items(dialog.dataBitsList), (QStringList{"8", "7", "6"}));
    QCOMPARE(dialog.dataBitsList->currentIndex(), 0);
    QCOMPARE(Items(dialog.stopBitsList),
             (QStringList{"ONESTOPBIT", "ONE5STOPBITS", "TWOSTOPBITS"}));
    QCOMPARE(dialog.stopBitsList->currentIndex(), 0);
    QVERIFY(!dialog.burnButton->isEnabled());
    QVERIFY(dialog.openButton->isEnabled());
    QCOMPARE(dialog.findChild<QLabel*>("3006")->text(), QString("0 Bps"));
    QCOMPARE(dialog.findChild<QLabel*>("3007")->text(), QString("00:00"));
    QCOMPARE(dialog.progressBar->minimum(), 0);
    QCOMPARE(dialog.progressBar->maximum(), 100);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(dialog.appIcon.availableSizes().size(), 3);
    // The device behind a COM number shows as a tooltip.
    dialog.portList->setCurrentIndex(dialog.portList->count() - 1);
    QCOMPARE(dialog.portList->toolTip(), QString::fromStdString(chip_->Path()));
  }

  void burnWithoutImageAsksForOne() {
    StartChip({});
    MessageBoxAnswerer answerer;
    CTarvokDlg dialog;
    dialog.SetFileChooser([](QWidget*) { return std::nullopt; });
    dialog.show();
    dialog.openButton->click();  // cancelled: Burn becomes enabled anyway
    QVERIFY(dialog.burnButton->isEnabled());
    dialog.burnButton->click();
    QTRY_COMPARE(answerer.texts, QStringList{"Please choose a IMG file!"});
    QCOMPARE(answerer.icons.front(), QMessageBox::Warning);
    QCOMPARE(answerer.captions.front(), QString("Tarvok"));
  }

  void burnsIntoTheChip() {
    sim::PtyChipOptions options;
    options.chip.flashBytes = 256 * 1024;
    StartChip(options);
    MessageBoxAnswerer answerer;
    auto dialog = ReadyDialog();
    QCOMPARE(dialog->pathEdit->text(), QString::fromStdString(image_));
    QVERIFY(dialog->burnButton->isEnabled());
    dialog->burnButton->click();
    QVERIFY(!dialog->burnButton->isEnabled());
    QVERIFY(!dialog->portList->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar->value() > 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.texts, QStringList{"Burn Flash Img Success !"}, 60000);
    QCOMPARE(dialog->progressBar->value(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->burnButton->isEnabled(), 3000);
    QVERIFY(dialog->openButton->isEnabled());
    QVERIFY(dialog->portList->isEnabled());
    QVERIFY(dialog->findChild<QLabel*>("3007")->text().endsWith(" sec"));
    const auto flash = chip_->FlashContents();
    QVERIFY(std::equal(bytes_.begin(), bytes_.end(), flash.begin()));
  }

  void failingChipShowsItsStatus() {
    sim::PtyChipOptions options;
    options.chip.wrongEcho = true;
    StartChip(options);
    MessageBoxAnswerer answerer;
    auto dialog = ReadyDialog();
    dialog->burnButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.texts, QStringList{"Burn Flash Img Fail ! Error=a0006"},
                              60000);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->burnButton->isEnabled(), 3000);
  }

  void closingDuringARun() {
    StartChip({});
    MessageBoxAnswerer answerer;
    auto dialog = ReadyDialog();
    dialog->burnButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar->value() > 3, 20000);
    std::weak_ptr<DialogCore> core = dialog->Core().shared_from_this();
    dialog->close();
    QVERIFY(!dialog->isVisible());
    QVERIFY(dialog->WorkerRunning());  // the chip is not waited for
    dialog.reset();                    // the window is gone while the worker goes on
    // The worker finishes the burn on its own and lets go of everything; nothing it does
    // reaches the destroyed window (AddressSanitizer watches).
    QTRY_VERIFY_WITH_TIMEOUT(core.expired(), 60000);
    QVERIFY(answerer.texts.isEmpty());
  }

  void escapeDuringARunTakesTheCloseWay() {
    StartChip({});
    auto dialog = ReadyDialog();
    dialog->burnButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar->value() > 0, 20000);
    std::weak_ptr<DialogCore> core = dialog->Core().shared_from_this();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    const int frozen = dialog->progressBar->value();
    QTest::qWait(500);
    QCOMPARE(dialog->progressBar->value(), frozen);  // the window no longer follows the run
    dialog.reset();
    QTRY_VERIFY_WITH_TIMEOUT(core.expired(), 60000);
  }
};

}  // namespace tarvok

QTEST_MAIN(tarvok::QtDialogTest)
#include "QtDialogTest.moc"
