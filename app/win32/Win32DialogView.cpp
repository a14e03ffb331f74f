#include "app/win32/Win32DialogView.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "serial/Win32Text.h"

namespace tarvok {

void Win32DialogView::Attach(HWND dialog) {
  dialog_ = dialog;
  windowThread_ = GetCurrentThreadId();
}

void Win32DialogView::SetProgress(uint8_t percent) {
  SendDlgItemMessageW(dialog_, kProgressBarId, PBM_SETPOS, percent, 0);
}

void Win32DialogView::SetSpeedText(const std::string& text) {
  SetDlgItemTextW(dialog_, kSpeedLabelId, WideFromUtf8(text).c_str());
}

void Win32DialogView::SetElapsedText(const std::string& text) {
  SetDlgItemTextW(dialog_, kElapsedLabelId, WideFromUtf8(text).c_str());
}

void Win32DialogView::EnableControl(int controlId, bool enabled) {
  EnableWindow(GetDlgItem(dialog_, controlId), enabled ? TRUE : FALSE);
}

int32_t Win32DialogView::SelectedIndex(int controlId) const {
  const LRESULT index = SendDlgItemMessageW(dialog_, controlId, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int32_t>(index);
}

std::string Win32DialogView::SelectedText(int controlId) const {
  const LRESULT index = SendDlgItemMessageW(dialog_, controlId, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) {
    return {};
  }
  const LRESULT length =
      SendDlgItemMessageW(dialog_, controlId, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) {
    return {};
  }
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  SendDlgItemMessageW(dialog_, controlId, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text.data()));
  return Utf8FromWide(text.data());
}

void Win32DialogView::SetPathText(const std::string& path) {
  SetDlgItemTextW(dialog_, kPathEditId, WideFromUtf8(path).c_str());
}

void Win32DialogView::StartTimer() {
  SetTimer(dialog_, kBurnTimerId, 1000, nullptr);
}

void Win32DialogView::StopTimer() {
  KillTimer(dialog_, kBurnTimerId);
}

void Win32DialogView::ShowMessageBox(const std::string& text) {
  MessageBoxW(dialog_, WideFromUtf8(text).c_str(), kApplicationTitle, MB_OK | MB_ICONEXCLAMATION);
}

std::optional<std::string> Win32DialogView::ChooseImageFile() {
  if (chooseFile) {
    return chooseFile();
  }
  std::vector<wchar_t> path(32768, L'\0');
  OPENFILENAMEW request{};
  request.lStructSize = sizeof(request);
  request.hwndOwner = dialog_;
  request.lpstrFilter =
      L"Images (*.bin *.hex *.srec *.s19 *.elf "
      L"...)\0*.bin;*.hex;*.ihex;*.ihx;*.srec;*.s19;*.s28;*.s37;*.mot;*.elf;*.axf\0Bin file "
      L"(*.bin)\0*.bin\0All files (*.*)\0*.*\0\0";
  request.lpstrFile = path.data();
  request.nMaxFile = static_cast<DWORD>(path.size());
  request.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameW(&request)) {
    return std::nullopt;
  }
  // Kept as UTF-8 and opened by its wide form: a name outside the ANSI code page works.
  return Utf8FromWide(path.data());
}

void Win32DialogView::HandOver(const std::function<void()>& task) {
  if (GetCurrentThreadId() == windowThread_) {
    task();
    return;
  }
  // Returns once the window's thread has run the task; at once if the window has gone.
  SendMessageW(dialog_, kHandOverMessage, 0, reinterpret_cast<LPARAM>(&task));
}

}  // namespace tarvok
