// Drives the real dialog as a user would, for the test under Wine and for the screenshot:
// picks the port and the boot-ROM rate, presses "Open" (with the image given in place of
// the file-open dialog) and "Burn", answers the message boxes with OK and reads their texts,
// and ends the dialog once the run is over. Optionally pictures the window mid-burn.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/TarvokDlg.h"

namespace tarvok {

struct DialogDriveOptions {
  std::string image;  // UTF-8 path
  std::string port;   // such as COM5
  std::string romRate = "115200";
  std::string screenshot;  // a .bmp to write mid-burn; empty for none
  int screenshotPercent = 55;
  uint32_t deadlineMs = 240'000;
};

class DialogBurnDriver : public DialogDriver {
 public:
  explicit DialogBurnDriver(DialogDriveOptions options) : options_(std::move(options)) {}
  void Start(CTarvokDlg& dialog) override;
  void Step() override;
  // 0: the run ended with "Burn Flash Img Success !" and the bar at 100; otherwise 1.
  int Result() const { return result_; }
  std::string Report() const;

 private:
  enum class Phase { kPressButtons, kBurning, kDone };
  void Finish(int result, const std::string& why);
  HWND FindMessageBox() const;
  void TakeScreenshot();

  DialogDriveOptions options_;
  CTarvokDlg* dialog_ = nullptr;
  Phase phase_ = Phase::kPressButtons;
  bool inStep_ = false;
  bool pictured_ = false;
  DWORD startedMs_ = 0;
  int highestPercent_ = 0;
  std::vector<std::string> messages_;
  std::string failure_;
  int result_ = 1;
};

}  // namespace tarvok
