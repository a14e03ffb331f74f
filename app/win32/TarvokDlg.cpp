#include "app/win32/TarvokDlg.h"

#include <commctrl.h>

#include <string>

#include "app/DialogRequest.h"
#include "app/win32/resource.h"
#include "serial/Win32Text.h"

namespace tarvok {
namespace {

static_assert(IDC_PORT_LIST == kPortListId && IDC_PARITY_LIST == kParityListId &&
              IDC_ORIGINAL_RATE_LIST == kOriginalRateListId &&
              IDC_DATA_BITS_LIST == kDataBitsListId && IDC_STOP_BITS_LIST == kStopBitsListId &&
              IDC_BURN_RATE_LIST == kBurnRateListId);
static_assert(IDC_OPEN_BUTTON == kOpenButtonId && IDC_PATH_EDIT == kPathEditId &&
              IDC_BURN_BUTTON == kBurnButtonId && IDC_PROGRESS == kProgressBarId &&
              IDC_SPEED_LABEL == kSpeedLabelId && IDC_ELAPSED_LABEL == kElapsedLabelId);

void Fill(HWND dialog, const DialogList& list) {
  for (const std::string& text : list.texts) {
    const std::wstring item = WideFromUtf8(text);
    SendDlgItemMessageW(dialog, list.controlId, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(item.c_str()));
  }
  SendDlgItemMessageW(dialog, list.controlId, CB_SETCURSEL, static_cast<WPARAM>(list.selected), 0);
}

}  // namespace

CTarvokDlg::CTarvokDlg(HINSTANCE instance)
    : instance_(instance), view_(std::make_shared<Win32DialogView>()) {
  core_ = DialogCore::Create(view_, StartDetachedThread, OpenSerialDevice);
  appIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TARVOK), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_DEFAULTCOLOR));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TARVOK), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

CTarvokDlg::~CTarvokDlg() {
  DestroyIcon(appIcon_);
  DestroyIcon(smallIcon_);
}

INT_PTR CTarvokDlg::DoModal() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_TARVOK_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTarvokDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* dialog = reinterpret_cast<CTarvokDlg*>(lParam);
    dialog->window_ = window;
  }
  auto* dialog = reinterpret_cast<CTarvokDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  return dialog != nullptr ? dialog->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CTarvokDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the system sets the focus
    case kHandOverMessage:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OPEN_BUTTON:
          if (HIWORD(wParam) == BN_CLICKED) {
            core_->OnOpenClicked();
          }
          return TRUE;
        case IDC_BURN_BUTTON:
          if (HIWORD(wParam) == BN_CLICKED) {
            core_->OnBurnClicked();
          }
          return TRUE;
        case IDOK:  // Enter and Escape end the dialog as OK and Cancel would
        case IDCANCEL:
          EndDialog(LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    case WM_TIMER:
      if (wParam == kBurnTimerId) {
        core_->OnTimer();
      } else if (driver_ != nullptr && wParam == kDialogDriverTimerId) {
        driver_->Step();
      }
      return TRUE;
    case WM_CLOSE:
      closing_ = true;
      core_->OnClose();
      ::EndDialog(window_, IDCANCEL);
      return TRUE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(appIcon_);
    default:
      return FALSE;
  }
}

void CTarvokDlg::EndDialog(INT_PTR result) {
  // A run still going on is let go: it no longer touches the window.
  if (core_->WorkerRunning() && !closing_) {
    closing_ = true;
    core_->OnClose();
  }
  ::EndDialog(window_, result);
}

void CTarvokDlg::OnInitDialog() {
  view_->Attach(window_);
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  SendDlgItemMessageW(window_, IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
  ports_ = DiscoverSerialPorts();
  for (const PortInfo& port : ports_) {
    const std::wstring name = L"COM" + std::to_wstring(port.number);
    SendDlgItemMessageW(window_, IDC_PORT_LIST, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendDlgItemMessageW(window_, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);
  SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
  for (const DialogList& list : FixedDialogLists()) {
    Fill(window_, list);
  }
  core_->OnInitDialog();
  if (driver_ != nullptr) {
    driver_->Start(*this);
  }
}

bool CTarvokDlg::OnPaint() {
  if (!IsIconic(window_)) {
    return false;  // the dialog paints itself
  }
  PAINTSTRUCT paint{};
  const HDC context = BeginPaint(window_, &paint);
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
  RECT client{};
  GetClientRect(window_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(context, x, y, appIcon_);
  EndPaint(window_, &paint);
  return true;
}

}  // namespace tarvok
