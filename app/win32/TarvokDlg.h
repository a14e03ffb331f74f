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

class SelfTest;

class CTarvokDlg {
 public:
  explicit CTarvokDlg(HINSTANCE instance);
  ~CTarvokDlg();
  CTarvokDlg(const CTarvokDlg&) = delete;
  CTarvokDlg& operator=(const CTarvokDlg&) = delete;

  // Runs the dialog until it closes; the result of EndDialog.
  INT_PTR DoModal();
  // Drives the dialog as a user would, from the start (see SelfTest).
  void AttachSelfTest(SelfTest* selfTest) { selfTest_ = selfTest; }

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
  SelfTest* selfTest_ = nullptr;
  bool closing_ = false;
};

}  // namespace tarvok
