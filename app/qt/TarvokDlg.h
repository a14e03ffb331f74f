// The main dialog on Qt: template 101 with its controls at their dialog-unit positions, the
// lists with their items and start selections, and the dialog logic behind them.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/DialogCore.h"
#include "serial/PortDiscovery.h"
#include "version/Version.h"

namespace tarvok {

inline constexpr const char* kDialogCaption = TARVOK_DIALOG_CAPTION;
inline constexpr const char* kApplicationTitle = "Tarvok";

class CTarvokDlg : public QDialog {
  Q_OBJECT

 public:
  using FileChooser = std::function<std::optional<std::string>(QWidget* parent)>;
  explicit CTarvokDlg(QWidget* parent = nullptr, DeviceOpener openDevice = OpenSerialDevice);
  ~CTarvokDlg() override;

  // Lets tests answer the file-open dialog.
  void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
  DialogCore& Core() { return *core_; }
  bool WorkerRunning() const { return core_->WorkerRunning(); }

  // What the dialog logic asks of the window (always on the window's thread).
  void EnableControl(int controlId, bool enabled);
  int32_t SelectedIndex(int controlId) const;
  std::string SelectedText(int controlId) const;
  void SetPathText(const std::string& path);
  void SetProgress(uint8_t percent);
  void SetSpeedText(const std::string& text);
  void SetElapsedText(const std::string& text);
  void StartTimer();
  void StopTimer();
  void ShowMessageBox(const std::string& text);
  std::optional<std::string> ChooseImageFile();

  QIcon appIcon;
  QComboBox* portList = nullptr;
  QComboBox* parityList = nullptr;
  QComboBox* originalRateList = nullptr;
  QComboBox* burnRateList = nullptr;
  QComboBox* stopBitsList = nullptr;
  QComboBox* dataBitsList = nullptr;
  QLineEdit* pathEdit = nullptr;
  QPushButton* openButton = nullptr;
  QPushButton* burnButton = nullptr;
  QProgressBar* progressBar = nullptr;

 public slots:
  void accept() override;
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildTemplate();
  void DoDataExchange();
  void OnInitDialog();
  void ShowSelectedDevice();
  // Enter and Escape end the dialog; during a run they take the same way as closing.
  void EndDialog(bool accepted);

  std::shared_ptr<DialogCore> core_;
  std::vector<PortInfo> ports_;
  QLabel* speedLabel_ = nullptr;
  QLabel* elapsedLabel_ = nullptr;
  QTimer timer_;
  FileChooser chooseFile_;
  bool closing_ = false;
};

}  // namespace tarvok
