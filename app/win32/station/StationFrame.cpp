#include "app/win32/station/StationFrame.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "serial/Win32Text.h"

namespace tarvok {
namespace {

constexpr wchar_t kClassName[] = L"TarvokStation";
constexpr UINT_PTR kTickTimerId = 1;
constexpr UINT kTickMs = 5000;
constexpr UINT kDriverStepMs = 100;
constexpr int kStartAllId = 100;
constexpr int kStopAllId = 101;
constexpr int kTileIdBase = 1000;  // a tile's Start/Stop is base + 10 * port + 1, Next board + 2
constexpr int kMargin = 10;
constexpr int kHeaderGap = 40;        // pixels at least between the image's line and the counts
constexpr int kLowerMinHeight = 190;  // the records and the settings: several lines at least
constexpr int kSmallestPixels = 12;
// The longest of a tile's state words: the words' size is chosen so that it fits the tile.
constexpr wchar_t kLongestWords[] = L"WAITING FOR BOARD";

int TileButtonId(std::size_t port, int which) {
  return kTileIdBase + 10 * static_cast<int>(port) + which;
}

struct ToneColours {
  COLORREF background;
  COLORREF text;
};

// The words say the same without the colours.
ToneColours ColoursOf(TileTone tone) {
  switch (tone) {
    case TileTone::kIdle:
      return {RGB(0xd8, 0xd8, 0xd8), RGB(0x20, 0x20, 0x20)};
    case TileTone::kWaiting:
      return {RGB(0xcf, 0xe3, 0xf7), RGB(0x0b, 0x2a, 0x4a)};
    case TileTone::kBurning:
      return {RGB(0xff, 0xd3, 0x6b), RGB(0x3a, 0x2a, 0x00)};
    case TileTone::kPass:
      return {RGB(0x2e, 0x9e, 0x46), RGB(0xff, 0xff, 0xff)};
    case TileTone::kFail:
      return {RGB(0xc6, 0x28, 0x28), RGB(0xff, 0xff, 0xff)};
    case TileTone::kStopped:
      return {RGB(0x50, 0x50, 0x50), RGB(0xff, 0xff, 0xff)};
  }
  return {RGB(0xd8, 0xd8, 0xd8), RGB(0x20, 0x20, 0x20)};
}

constexpr TileTone kTones[] = {TileTone::kIdle, TileTone::kWaiting, TileTone::kBurning,
                               TileTone::kPass, TileTone::kFail,    TileTone::kStopped};

HFONT MakeFont(int points, bool bold, const wchar_t* face = L"Segoe UI") {
  return CreateFontW(-points * 96 / 72, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH, face);
}

HFONT MakePixelFont(int pixels, bool bold) {
  return CreateFontW(-std::max(pixels, kSmallestPixels), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

void SetText(HWND control, const std::string& text) {
  SetWindowTextW(control, WideFromUtf8(text).c_str());
}

void Place(HWND control, int x, int y, int width, int height) {
  MoveWindow(control, x, y, std::max(width, 0), std::max(height, 0), FALSE);
}

}  // namespace

StationFrame::StationFrame(HINSTANCE instance, StationParts parts, StationWorld world)
    : instance_(instance), parts_(std::move(parts)), world_(std::move(world)) {
  titleFont_ = MakeFont(20, true);
  largeFont_ = MakeFont(16, true);
  wordsFont_ = MakeFont(28, true);
  textFont_ = MakeFont(11, false);
  monoFont_ = MakeFont(10, false, L"Consolas");
  for (const TileTone tone : kTones) {
    toneBrushes_.push_back(CreateSolidBrush(ColoursOf(tone).background));
  }
}

StationFrame::~StationFrame() {
  for (const HFONT font :
       {titleFont_, largeFont_, wordsFont_, textFont_, monoFont_, tileFonts_.name, tileFonts_.words,
        tileFonts_.text, tileFonts_.counts, tileFonts_.button}) {
    DeleteObject(font);
  }
  for (const HBRUSH brush : toneBrushes_) {
    DeleteObject(brush);
  }
}

HBRUSH StationFrame::ToneBrush(TileTone tone) const {
  return toneBrushes_.at(static_cast<std::size_t>(tone));
}

bool StationFrame::Run(const std::function<void(StationFrame&)>& shown) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);
  const std::wstring title = WideFromUtf8("Tarvok station - " + parts_.setup.name);
  window_ =
      CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                      CW_USEDEFAULT, CW_USEDEFAULT, 1000, 740, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) {
    return false;
  }
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  shown(*this);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

void StationFrame::OnDriverTimer(std::function<void()> step) {
  driverStep_ = std::move(step);
  SetTimer(window_, kStationDriverTimerId, kDriverStepMs, nullptr);
}

LRESULT CALLBACK StationFrame::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* frame = static_cast<StationFrame*>(create->lpCreateParams);
    frame->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
  }
  auto* frame = reinterpret_cast<StationFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (frame == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return frame->Handle(message, wParam, lParam);
}

LRESULT StationFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      MakeControls();
      view_ = std::make_shared<Win32StationView>();
      view_->Attach(this, window_);
      panel_ = StationPanel::Create(std::move(parts_), std::move(world_), view_);
      SetTimer(window_, kTickTimerId, kTickMs, nullptr);
      panel_->OnOpen();
      return 0;
    }
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = POINT{760, 600};
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        OnCommand(LOWORD(wParam));
      }
      return 0;
    case WM_TIMER:
      if (wParam == kTickTimerId && panel_) {
        panel_->OnTick();
      } else if (wParam == kStationDriverTimerId && driverStep_) {
        driverStep_();
      }
      return 0;
    case kStationHandOverMessage:
      Win32StationView::RunHandedOver(lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      if (const HBRUSH brush =
              ColourTileText(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam))) {
        return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kTickTimerId);
      KillTimer(window_, kStationDriverTimerId);
      if (view_) {
        view_->Detach();
      }
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// A tile's text in its tone's colours: the brush for its background, or null for a control
// outside the tiles.
HBRUSH StationFrame::ColourTileText(HWND control, HDC dc) const {
  for (const StationTileControls& tile : tiles_) {
    if (control == tile.frame || control == tile.name || control == tile.words ||
        control == tile.detail || control == tile.unit || control == tile.counts) {
      const ToneColours colours = ColoursOf(tile.tone);
      SetBkColor(dc, colours.background);
      SetTextColor(dc, colours.text);
      return ToneBrush(tile.tone);
    }
  }
  return nullptr;
}

void StationFrame::MakeControls() {
  const auto child = [this](const wchar_t* className, DWORD style, HFONT font, int id = 0,
                            const wchar_t* text = L"") {
    const HWND control = CreateWindowExW(
        0, className, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 10, 10, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  title_ = child(L"STATIC", SS_LEFTNOWORDWRAP, titleFont_);
  image_ = child(L"STATIC", SS_LEFT | SS_ENDELLIPSIS, textFont_);
  log_ = child(L"STATIC", SS_LEFT | SS_PATHELLIPSIS, textFont_);
  totals_ = child(L"STATIC", SS_RIGHT, largeFont_);
  rate_ = child(L"STATIC", SS_RIGHT, textFont_);
  startAll_ = child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, largeFont_, kStartAllId, L"Start all");
  stopAll_ = child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, largeFont_, kStopAllId, L"Stop all");

  for (std::size_t port = 0; port < parts_.setup.ports.size(); ++port) {
    StationTileControls tile;
    tile.frame = child(L"STATIC", 0, textFont_);
    tile.name = child(L"STATIC", SS_LEFTNOWORDWRAP, largeFont_);
    tile.words = child(L"STATIC", SS_LEFTNOWORDWRAP, wordsFont_);
    tile.bar = child(PROGRESS_CLASSW, PBS_SMOOTH, textFont_);
    SendMessageW(tile.bar, PBM_SETRANGE32, 0, 100);
    tile.detail = child(L"STATIC", SS_LEFT, textFont_);
    tile.unit = child(L"STATIC", SS_LEFTNOWORDWRAP, textFont_);
    tile.counts = child(L"STATIC", SS_LEFTNOWORDWRAP, largeFont_);
    tile.startStop =
        child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, largeFont_, TileButtonId(port, 1), L"Start");
    tile.nextBoard = child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, largeFont_, TileButtonId(port, 2),
                           L"Next board");
    ShowWindow(tile.nextBoard, SW_HIDE);
    // The frame lies under the rest of its tile.
    SetWindowPos(tile.frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    tiles_.push_back(tile);
  }

  recordsBox_ = child(L"BUTTON", BS_GROUPBOX, textFont_, 0,
                      L"Last boards (newest first, times in UTC as in the log)");
  records_ =
      child(L"LISTBOX", WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, monoFont_);
  settingsBox_ =
      child(L"BUTTON", BS_GROUPBOX, textFont_, 0, L"Settings (from the station, read-only)");
  settings_ = child(L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER,
                    monoFont_);
  // The group boxes lie under what they hold.
  SetWindowPos(recordsBox_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(settingsBox_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void StationFrame::Layout(int width, int height) {
  // The station's buttons on the right, the counts and the rate beside them, the name, image
  // and log on the left with a gap before the counts however long the image's name.
  const int right = 180;
  const int countsWidth = 360;
  const int countsLeft = width - 2 * kMargin - right - countsWidth;
  const int left = std::max(countsLeft - kMargin - kHeaderGap, 100);
  Place(title_, kMargin, kMargin, left, 36);
  Place(image_, kMargin, kMargin + 40, left, 22);
  Place(log_, kMargin, kMargin + 64, left, 22);
  Place(totals_, countsLeft, kMargin, countsWidth, 32);
  Place(rate_, countsLeft, kMargin + 40, countsWidth, 22);
  Place(startAll_, width - kMargin - right, kMargin, right, 40);
  Place(stopAll_, width - kMargin - right, kMargin + 46, right, 40);
  const int headerBottom = kMargin + 96;

  // The lists keep a few lines at any size; the tiles have the rest.
  const int lowerHeight = std::max(kLowerMinHeight, (height - headerBottom) * 28 / 100);
  const int tilesHeight = std::max(height - headerBottom - lowerHeight - 2 * kMargin, 120);
  LayoutTiles(headerBottom, width, tilesHeight);

  const int lowerTop = headerBottom + tilesHeight + kMargin;
  const int recordsWidth = (width - 3 * kMargin) * 3 / 5;
  const int settingsLeft = 2 * kMargin + recordsWidth;
  const int settingsWidth = width - settingsLeft - kMargin;
  Place(recordsBox_, kMargin, lowerTop, recordsWidth, lowerHeight);
  Place(records_, kMargin + 8, lowerTop + 22, recordsWidth - 16, lowerHeight - 30);
  Place(settingsBox_, settingsLeft, lowerTop, settingsWidth, lowerHeight);
  Place(settings_, settingsLeft + 8, lowerTop + 22, settingsWidth - 16, lowerHeight - 30);
}

// Two columns up to four ports, then three, four from nine on; every tile the same size, its
// lines one under the other in fonts sized to the tile.
void StationFrame::LayoutTiles(int top, int width, int height) {
  const std::size_t count = tiles_.size();
  const int columns = count <= 1 ? 1 : count <= 4 ? 2 : count <= 9 ? 3 : 4;
  const int rows = std::max(static_cast<int>((count + static_cast<std::size_t>(columns) - 1) /
                                             static_cast<std::size_t>(columns)),
                            1);
  const int tileWidth = (width - kMargin * (columns + 1)) / columns;
  const int tileHeight = (height - kMargin * (rows - 1)) / rows;
  const int inner = tileWidth - 24;
  const TileFonts fonts = ScaleTileFonts(tileHeight, inner);
  const int words = fonts.wordsPixels;
  for (std::size_t port = 0; port < count; ++port) {
    const StationTileControls& tile = tiles_[port];
    const int x = kMargin + static_cast<int>(port % static_cast<std::size_t>(columns)) *
                                (tileWidth + kMargin);
    const int y =
        top + static_cast<int>(port / static_cast<std::size_t>(columns)) * (tileHeight + kMargin);
    // Each line's height is its font's with a little room; the counts stand on their own line,
    // under the unit number, both at the tile's left edge.
    int line = y + 6;
    const auto next = [&line](int pixels) {
      const int at = line;
      line += pixels * 5 / 4 + 2;
      return at;
    };
    Place(tile.frame, x, y, tileWidth, tileHeight);
    Place(tile.name, x + 12, next(words * 6 / 10), inner, words * 6 / 10 * 5 / 4);
    Place(tile.words, x + 12, next(words), inner, words * 5 / 4);
    Place(tile.bar, x + 12, next(words * 4 / 10), inner, words * 4 / 10);
    Place(tile.detail, x + 12, next(words * 8 / 10), inner, words * 8 / 10 * 5 / 4);
    Place(tile.unit, x + 12, next(words * 45 / 100), inner, words * 45 / 100 * 5 / 4);
    Place(tile.counts, x + 12, next(words * 7 / 10), inner, words * 7 / 10 * 5 / 4);
    const int buttonHeight = std::max(words * 8 / 10, 28);
    const int buttonTop = y + tileHeight - buttonHeight - 8;
    Place(tile.startStop, x + 12, buttonTop, std::min(inner / 2 - 6, words * 4), buttonHeight);
    Place(tile.nextBoard, x + 12 + inner / 2, buttonTop, std::min(inner / 2, words * 5),
          buttonHeight);
    for (const auto& [control, font] : {std::pair{tile.name, fonts.name},
                                        {tile.words, fonts.words},
                                        {tile.detail, fonts.text},
                                        {tile.unit, fonts.text},
                                        {tile.counts, fonts.counts},
                                        {tile.startStop, fonts.button},
                                        {tile.nextBoard, fonts.button}}) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
  }
}

// The words take about a sixth of the tile's height, less where the longest of them would not
// fit its width; the rest of the text is sized after them. The fonts of the last size are
// freed.
StationFrame::TileFonts StationFrame::ScaleTileFonts(int tileHeight, int width) {
  int words = std::max((tileHeight - 40) * 2 / 13, kSmallestPixels);
  const HDC screen = GetDC(window_);
  for (;; words -= 2) {
    const HFONT font = MakePixelFont(words, true);
    const HGDIOBJ old = SelectObject(screen, font);
    SIZE extent{};
    GetTextExtentPoint32W(screen, kLongestWords, static_cast<int>(wcslen(kLongestWords)), &extent);
    SelectObject(screen, old);
    DeleteObject(font);
    if (words <= kSmallestPixels || extent.cx <= width) {
      break;
    }
  }
  ReleaseDC(window_, screen);
  for (const HFONT font :
       {tileFonts_.name, tileFonts_.words, tileFonts_.text, tileFonts_.counts, tileFonts_.button}) {
    DeleteObject(font);
  }
  tileFonts_ = TileFonts{MakePixelFont(words * 6 / 10, true),  MakePixelFont(words, true),
                         MakePixelFont(words * 4 / 10, false), MakePixelFont(words * 7 / 10, true),
                         MakePixelFont(words * 4 / 10, false), words};
  return tileFonts_;
}

void StationFrame::OnCommand(int id) {
  if (!panel_) {
    return;
  }
  if (id == kStartAllId) {
    panel_->OnStartStation();
    return;
  }
  if (id == kStopAllId) {
    panel_->OnStopStation();
    return;
  }
  for (std::size_t port = 0; port < tiles_.size(); ++port) {
    if (id == TileButtonId(port, 1)) {
      tiles_[port].running ? panel_->OnStopPort(port) : panel_->OnStartPort(port);
    } else if (id == TileButtonId(port, 2)) {
      panel_->OnNextBoard(port);
    }
  }
}

void StationFrame::OnClose() {
  if (panel_) {
    if (!panel_->OnCloseRequested()) {
      return;  // the operator keeps the boards burning
    }
    KillTimer(window_, kTickTimerId);
    if (!panel_->AwaitStopped(kStationCloseWait)) {
      // A port that has not stopped in time is left to the program's end rather than waited
      // for: the logic stays alive (never freed) so that its thread has something to call.
      static_cast<void>(new std::shared_ptr<StationPanel>(panel_));
    }
  }
  DestroyWindow(window_);
}

void StationFrame::ShowHeader(const StationHeader& header) {
  SetText(title_, header.title);
  SetText(image_, header.image);
  SetText(totals_, header.totals);
  SetText(rate_, header.rate);
  SetText(log_, header.log);
}

void StationFrame::ShowTile(std::size_t port, const StationTile& tile) {
  StationTileControls& controls = tiles_.at(port);
  controls.tone = tile.tone;
  controls.running = tile.running;
  SetText(controls.name, tile.port);
  SetText(controls.words, tile.words);
  SetText(controls.detail, tile.detail);
  SetText(controls.unit, tile.unit);
  SetText(controls.counts, tile.countsText);
  ShowWindow(controls.bar, tile.percent >= 0 ? SW_SHOWNA : SW_HIDE);
  SendMessageW(controls.bar, PBM_SETPOS, static_cast<WPARAM>(std::max(tile.percent, 0)), 0);
  SetText(controls.startStop, tile.running ? "Stop" : "Start");
  ShowWindow(controls.nextBoard, tile.nextBoard ? SW_SHOWNA : SW_HIDE);
  for (const HWND control : {controls.frame, controls.name, controls.words, controls.detail,
                             controls.unit, controls.counts}) {
    InvalidateRect(control, nullptr, TRUE);
  }
}

void StationFrame::ShowRecords(const std::vector<std::string>& newestFirst) {
  SendMessageW(records_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(records_, LB_RESETCONTENT, 0, 0);
  for (const std::string& line : newestFirst) {
    const std::wstring wide = WideFromUtf8(line);
    SendMessageW(records_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
  SendMessageW(records_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(records_, nullptr, TRUE);
}

void StationFrame::ShowSettings(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\r\n";
  }
  SetText(settings_, text);
}

// Start all has nothing to start while every port runs; the tiles are shown before this.
void StationFrame::ShowStationRunning(bool running) {
  EnableWindow(stopAll_, running ? TRUE : FALSE);
  const bool allRunning = std::all_of(tiles_.begin(), tiles_.end(),
                                      [](const StationTileControls& tile) { return tile.running; });
  EnableWindow(startAll_, allRunning ? FALSE : TRUE);
}

bool StationFrame::Ask(const std::string& question) {
  const std::wstring text = WideFromUtf8(question);
  return MessageBoxW(window_, text.c_str(), L"Tarvok station",
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace tarvok
