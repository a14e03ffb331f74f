// The main dialog on Win32: template 101 run modally, its lists filled at start, its
// buttons, timer and close request passed to the shared dialog logic.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "app/DialogCore.h"
#include "app/win32/Win32DialogView.h"
#include "serial/PortDiscovery.h"

namespace tarvok {

class CTarvokDlg;

// Works the dialog from outside as a user would (a test program): started once the dialog is
// ready, then stepped on every tick of a timer it may set with kDialogDriverTimerId.
class DialogDriver {
 public:
  virtual ~DialogDriver() = default;
  virtual void Start(CTarvokDlg& dialog) = 0;
  virtual void Step() = 0;
};

inline constexpr UINT_PTR kDialogDriverTimerId = 2;

class CTarvokDlg {
 public:
  explicit CTarvokDlg(HINSTANCE instance);
  ~CTarvokDlg();
  CTarvokDlg(const CTarvokDlg&) = delete;
  CTarvokDlg& operator=(const CTarvokDlg&) = delete;

  // Runs the dialog until it closes; the result of EndDialog.
  INT_PTR DoModal();
  // Before DoModal: the dialog is worked by `driver` from the start.
  void AttachDriver(DialogDriver* driver) { driver_ = driver; }

  Win32DialogView& View() { return *view_; }
  DialogCore& Core() { return *core_; }
  HWND Window() const { return window_; }
  void EndDialog(INT_PTR result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  bool OnPaint();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HICON appIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  std::shared_ptr<Win32DialogView> view_;
  std::shared_ptr<DialogCore> core_;
  std::vector<PortInfo> ports_;
  DialogDriver* driver_ = nullptr;
  bool closing_ = false;
};

}  // namespace tarvok
