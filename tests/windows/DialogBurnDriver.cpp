#include "tests/windows/DialogBurnDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/win32/resource.h"
#include "serial/Win32Text.h"
#include "tests/windows/ScreenPicture.h"

namespace tarvok {
namespace {

constexpr const char* kSuccessText = "Burn Flash Img Success !";
constexpr int kMessageTextId = 0xFFFF;  // the text of a message box

bool Select(HWND dialog, int listId, const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  const LRESULT index =
      SendDlgItemMessageW(dialog, listId, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(wide.c_str()));
  if (index == CB_ERR) {
    return false;
  }
  SendDlgItemMessageW(dialog, listId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  return true;
}

std::string ControlText(HWND window, int id) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(window, id, text, 1024);
  return Utf8FromWide(text);
}

struct BoxSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (window != search->owner && std::wstring(className) == L"#32770" &&
      GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void DialogBurnDriver::Start(CTarvokDlg& dialog) {
  dialog_ = &dialog;
  dialog.View().chooseFile = [this]() -> std::optional<std::string> { return options_.image; };
  SetTimer(dialog.Window(), kDialogDriverTimerId, 100, nullptr);
  startedMs_ = GetTickCount();
}

HWND DialogBurnDriver::FindMessageBox() const {
  BoxSearch search{dialog_->Window(), nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchMessageBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void DialogBurnDriver::Step() {
  if (inStep_ || phase_ == Phase::kDone) {
    return;  // a message box of our own press runs its loop inside the press
  }
  inStep_ = true;
  const HWND window = dialog_->Window();
  if (GetTickCount() - startedMs_ > options_.deadlineMs) {
    Finish(1, "the run did not end in time");
  } else if (phase_ == Phase::kPressButtons) {
    if (!Select(window, IDC_PORT_LIST, options_.port)) {
      Finish(1, options_.port + " is not in the port list");
    } else if (!Select(window, IDC_ORIGINAL_RATE_LIST, options_.romRate)) {
      Finish(1, "no boot-ROM rate " + options_.romRate);
    } else {
      phase_ = Phase::kBurning;
      SendDlgItemMessageW(window, IDC_OPEN_BUTTON, BM_CLICK, 0, 0);
      if (ControlText(window, IDC_PATH_EDIT) != options_.image) {
        Finish(1, "Open did not take the image: " + ControlText(window, IDC_PATH_EDIT));
      } else {
        SendDlgItemMessageW(window, IDC_BURN_BUTTON, BM_CLICK, 0, 0);
      }
    }
  } else {
    const int percent =
        static_cast<int>(SendDlgItemMessageW(window, IDC_PROGRESS, PBM_GETPOS, 0, 0));
    highestPercent_ = std::max(highestPercent_, percent);
    if (!options_.screenshot.empty() && !pictured_ && percent >= options_.screenshotPercent) {
      TakeScreenshot();
    }
    if (const HWND box = FindMessageBox()) {
      messages_.push_back(ControlText(box, kMessageTextId));
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    } else if (!messages_.empty() && IsWindowEnabled(GetDlgItem(window, IDC_BURN_BUTTON))) {
      // The run is over: the dialog is idle again.
      const bool success = messages_.back() == kSuccessText && highestPercent_ == 100;
      Finish(success ? 0 : 1, success ? "" : "the run did not succeed");
    }
  }
  inStep_ = false;
}

void DialogBurnDriver::Finish(int result, const std::string& why) {
  phase_ = Phase::kDone;
  result_ = result;
  failure_ = why;
  KillTimer(dialog_->Window(), kDialogDriverTimerId);
  dialog_->EndDialog(IDOK);
}

std::string DialogBurnDriver::Report() const {
  std::string text;
  for (const std::string& message : messages_) {
    text += "message box: " + message + "\n";
  }
  text += "highest progress: " + std::to_string(highestPercent_) + "%\n";
  if (!failure_.empty()) {
    text += "test failed: " + failure_ + "\n";
  }
  text += result_ == 0 ? "test passed\n" : "";
  return text;
}

void DialogBurnDriver::TakeScreenshot() {
  pictured_ = true;
  RECT frame{};
  GetWindowRect(dialog_->Window(), &frame);
  SaveScreenPicture(frame, options_.screenshot);
}

}  // namespace tarvok
