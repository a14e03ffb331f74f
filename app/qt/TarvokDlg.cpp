#include "app/qt/TarvokDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSizeF>
#include <utility>
#include <vector>

#include "app/DialogRequest.h"
#include "app/qt/AppIcon.h"
#include "app/qt/QtDialogView.h"
#include "app/qt/TarvokApp.h"
#include "serial/PortDiscovery.h"

namespace tarvok {
namespace {

// Template 101 in dialog units: x, y, width, height.
struct Place {
  int x, y, width, height;
};

constexpr int kGroupBoxId = 301;
constexpr int kUsedTimeLabelId = 3005;
constexpr int kSpeedCaptionId = 3004;

void Fill(QComboBox* list, const DialogList& contents) {
  for (const std::string& text : contents.texts) {
    list->addItem(QString::fromStdString(text));
  }
  list->setCurrentIndex(contents.selected);
}

// Places each control at its template position. Dialog units: a quarter of the font's average
// character width across, an eighth of its height down. A font wider than the template was drawn
// for widens the unit, so that every caption still fits its place and the proportions stay.
// Returns the unit across and down.
QSizeF PlaceInDialogUnits(const std::vector<std::pair<QWidget*, Place>>& placed,
                          const QFont& dialogFont) {
  const QFontMetrics metrics(dialogFont);
  double unitX = metrics.averageCharWidth() / 4.0;
  const double unitY = metrics.height() / 8.0;
  for (const auto& [widget, p] : placed) {
    if (const auto* caption = qobject_cast<QLabel*>(widget)) {
      unitX = std::max(unitX, caption->sizeHint().width() / static_cast<double>(p.width));
    }
  }
  for (const auto& [widget, p] : placed) {
    const bool isList = qobject_cast<QComboBox*>(widget) != nullptr;
    // A list's template height includes its dropped-down part; closed it is one line.
    const int height = isList ? widget->sizeHint().height() : static_cast<int>(p.height * unitY);
    widget->setGeometry(static_cast<int>(p.x * unitX), static_cast<int>(p.y * unitY),
                        static_cast<int>(p.width * unitX), height);
  }
  return {unitX, unitY};
}

}  // namespace

CTarvokDlg::CTarvokDlg(QWidget* parent, DeviceOpener openDevice) : QDialog(parent) {
  auto view = std::make_shared<QtDialogView>();
  view->Attach(this);
  core_ = DialogCore::Create(view, StartDetachedThread, std::move(openDevice));
  appIcon = MakeAppIcon();
  BuildTemplate();
  DoDataExchange();
  OnInitDialog();
  connect(openButton, &QPushButton::clicked, this, [this] { core_->OnOpenClicked(); });
  connect(burnButton, &QPushButton::clicked, this, [this] { core_->OnBurnClicked(); });
  connect(&timer_, &QTimer::timeout, this, [this] { core_->OnTimer(); });
  connect(portList, &QComboBox::currentIndexChanged, this, [this] { ShowSelectedDevice(); });
}

CTarvokDlg::~CTarvokDlg() = default;

void CTarvokDlg::BuildTemplate() {
  setWindowTitle(kDialogCaption);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont dialogFont = font();
  dialogFont.setPointSize(9);
  setFont(dialogFont);

  std::vector<std::pair<QWidget*, Place>> placed;
  const auto add = [&](QWidget* widget, const Place& p, int id, const QString& name) {
    widget->setObjectName(id != 0 ? QString::number(id) : name);
    placed.emplace_back(widget, p);
    return widget;
  };
  const auto label = [&](const char* text, const Place& p, int id = 0) {
    return static_cast<QLabel*>(add(new QLabel(text, this), p, id, QString("label ") + text));
  };
  const auto list = [&](const Place& p, int id) { add(new QComboBox(this), p, id, {}); };
  const auto button = [&](const char* text, const Place& p, int id) {
    add(new QPushButton(text, this), p, id, {});
  };

  // In template order, which is also the tab order.
  add(new QGroupBox("Serial Port Setting", this), {12, 3, 299, 70}, kGroupBoxId, {});
  label("IMG COM:", {35, 18, 32, 8});
  label("Original BaudRate:", {22, 38, 58, 8});
  label("Burn BaudRate:", {30, 59, 50, 8});
  label("Parity:", {173, 38, 20, 8});
  label("StopBits:", {166, 59, 29, 8});
  list({84, 16, 48, 30}, kPortListId);
  list({214, 36, 67, 30}, kParityListId);
  list({84, 36, 48, 30}, kOriginalRateListId);
  list({214, 56, 67, 30}, kStopBitsListId);
  add(new QLineEdit(this), {20, 99, 215, 13}, kPathEditId, {});
  button("Open", {246, 91, 44, 21}, kOpenButtonId);
  label("UsedTime:", {121, 156, 36, 12}, kUsedTimeLabelId);
  button("Burn", {247, 121, 43, 28}, kBurnButtonId);
  add(new QProgressBar(this), {20, 122, 215, 26}, kProgressBarId, {});
  label("Speed:", {20, 156, 25, 12}, kSpeedCaptionId);
  speedLabel_ = label("0 Bps", {45, 156, 67, 12}, kSpeedLabelId);
  elapsedLabel_ = label("00:00", {157, 156, 67, 12}, kElapsedLabelId);
  label("Flash Img:", {20, 85, 48, 13});
  label("DataBits:", {167, 18, 28, 8});
  list({214, 16, 48, 30}, kDataBitsListId);
  list({84, 56, 48, 30}, kBurnRateListId);

  const QSizeF unit = PlaceInDialogUnits(placed, dialogFont);
  setFixedSize(static_cast<int>(318 * unit.width()), static_cast<int>(175 * unit.height()));
}

// Binds the members to their controls.
void CTarvokDlg::DoDataExchange() {
  const auto control = [this](int id) { return findChild<QWidget*>(QString::number(id)); };
  portList = static_cast<QComboBox*>(control(kPortListId));
  parityList = static_cast<QComboBox*>(control(kParityListId));
  originalRateList = static_cast<QComboBox*>(control(kOriginalRateListId));
  burnRateList = static_cast<QComboBox*>(control(kBurnRateListId));
  stopBitsList = static_cast<QComboBox*>(control(kStopBitsListId));
  dataBitsList = static_cast<QComboBox*>(control(kDataBitsListId));
  openButton = static_cast<QPushButton*>(control(kOpenButtonId));
  pathEdit = static_cast<QLineEdit*>(control(kPathEditId));
  burnButton = static_cast<QPushButton*>(control(kBurnButtonId));
  progressBar = static_cast<QProgressBar*>(control(kProgressBarId));
}

void CTarvokDlg::OnInitDialog() {
  setWindowIcon(appIcon);
  portList->addItem("");
  ports_ = DiscoverSerialPorts();
  for (const PortInfo& port : ports_) {
    portList->addItem(QString("COM%1").arg(port.number));
    portList->setItemData(portList->count() - 1, QString::fromStdString(port.device),
                          Qt::ToolTipRole);
  }
  portList->setCurrentIndex(0);
  progressBar->setRange(0, 100);
  progressBar->setValue(0);
  for (const DialogList& list : FixedDialogLists()) {
    Fill(findChild<QComboBox*>(QString::number(list.controlId)), list);
  }
  core_->OnInitDialog();
  ShowSelectedDevice();
}

void CTarvokDlg::ShowSelectedDevice() {
  const int index = portList->currentIndex();
  portList->setToolTip(index > 0 ? portList->itemData(index, Qt::ToolTipRole).toString()
                                 : QString("No port chosen"));
}

void CTarvokDlg::EnableControl(int controlId, bool enabled) {
  if (QWidget* widget = findChild<QWidget*>(QString::number(controlId))) {
    widget->setEnabled(enabled);
  }
}

int32_t CTarvokDlg::SelectedIndex(int controlId) const {
  const auto* list = findChild<QComboBox*>(QString::number(controlId));
  return list != nullptr ? list->currentIndex() : -1;
}

std::string CTarvokDlg::SelectedText(int controlId) const {
  const auto* list = findChild<QComboBox*>(QString::number(controlId));
  return list != nullptr ? list->currentText().toStdString() : std::string();
}

void CTarvokDlg::SetPathText(const std::string& path) {
  pathEdit->setText(QString::fromStdString(path));
}

void CTarvokDlg::SetProgress(uint8_t percent) {
  progressBar->setValue(percent);
}
void CTarvokDlg::SetSpeedText(const std::string& text) {
  speedLabel_->setText(QString::fromStdString(text));
}
void CTarvokDlg::SetElapsedText(const std::string& text) {
  elapsedLabel_->setText(QString::fromStdString(text));
}
void CTarvokDlg::StartTimer() {
  timer_.start(1000);
}
void CTarvokDlg::StopTimer() {
  timer_.stop();
}

void CTarvokDlg::ShowMessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, kApplicationTitle, QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

std::optional<std::string> CTarvokDlg::ChooseImageFile() {
  if (chooseFile_) {
    return chooseFile_(this);
  }
  const QString chosen =
      QFileDialog::getOpenFileName(this, "Open", QString(),
                                   "Images (*.bin *.hex *.ihex *.ihx *.srec *.s19 *.s28 *.s37 "
                                   "*.mot *.elf *.axf);;Bin file (*.bin);;All files (*)");
  if (chosen.isEmpty()) {
    return std::nullopt;
  }
  return WideToAnsi(chosen);
}

void CTarvokDlg::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    core_->OnClose();
  }
  event->accept();
}

void CTarvokDlg::EndDialog(bool accepted) {
  if (core_->WorkerRunning() && !closing_) {
    closing_ = true;
    core_->OnClose();
  }
  if (accepted) {
    QDialog::accept();
  } else {
    QDialog::reject();
  }
}

void CTarvokDlg::accept() {
  EndDialog(true);
}
void CTarvokDlg::reject() {
  EndDialog(false);
}

void CTarvokDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
    accept();  // no OK button: Enter ends the dialog as OK would
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tarvok
