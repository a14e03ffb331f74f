// The station's Win32 window: a header, a tile per port, Start all and Stop all, the last
// records and the settings, all plain child windows over the toolkit-free station panel. It
// is the panel's view: work from the ports' threads arrives as a posted message.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/station/Win32StationView.h"
#include "station/panel/StationPanel.h"
#include "station/panel/StationPanelView.h"

namespace tarvok {

inline constexpr UINT kStationHandOverMessage = WM_APP + 1;
inline constexpr UINT_PTR kStationDriverTimerId = 2;
// How long closing the window waits for every port to stop at its next byte.
inline constexpr std::chrono::milliseconds kStationCloseWait{3000};

// The child windows of one port's tile.
struct StationTileControls {
  HWND frame = nullptr;
  HWND name = nullptr;
  HWND words = nullptr;
  HWND bar = nullptr;
  HWND detail = nullptr;
  HWND unit = nullptr;
  HWND counts = nullptr;
  HWND startStop = nullptr;
  HWND nextBoard = nullptr;
  TileTone tone = TileTone::kIdle;
  bool running = false;
};

class StationFrame {
 public:
  StationFrame(HINSTANCE instance, StationParts parts, StationWorld world);
  ~StationFrame();
  StationFrame(const StationFrame&) = delete;
  StationFrame& operator=(const StationFrame&) = delete;

  // Shows the window, calls `shown` with it, and runs its messages until it has gone; false
  // when it could not be made.
  bool Run(const std::function<void(StationFrame&)>& shown);
  HWND Window() const { return window_; }
  StationPanel& Panel() { return *panel_; }
  const std::vector<StationTileControls>& Tiles() const { return tiles_; }
  HWND StartAllButton() const { return startAll_; }
  HWND TotalsLabel() const { return totals_; }
  HWND RecordsList() const { return records_; }
  // Called every 100 ms on the window's thread once set: for a program that works the window
  // from outside (a test).
  void OnDriverTimer(std::function<void()> step);

  // The view's calls, on the window's thread.
  void ShowHeader(const StationHeader& header);
  void ShowTile(std::size_t port, const StationTile& tile);
  void ShowRecords(const std::vector<std::string>& newestFirst);
  void ShowSettings(const std::vector<std::string>& lines);
  void ShowStationRunning(bool running);
  bool Ask(const std::string& question);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void MakeControls();
  // The tile fonts of the tiles' present size, and the words' height in pixels.
  struct TileFonts {
    HFONT name = nullptr;
    HFONT words = nullptr;
    HFONT text = nullptr;
    HFONT counts = nullptr;
    HFONT button = nullptr;
    int wordsPixels = 0;
  };
  void Layout(int width, int height);
  void LayoutTiles(int top, int width, int height);
  TileFonts ScaleTileFonts(int tileHeight, int width);
  void OnCommand(int id);
  void OnClose();
  HBRUSH ToneBrush(TileTone tone) const;
  HBRUSH ColourTileText(HWND control, HDC dc) const;

  HINSTANCE instance_;
  StationParts parts_;  // until the panel takes them, as the window exists
  StationWorld world_;
  HWND window_ = nullptr;
  std::shared_ptr<Win32StationView> view_;
  std::shared_ptr<StationPanel> panel_;
  std::function<void()> driverStep_;

  HFONT titleFont_ = nullptr;
  HFONT largeFont_ = nullptr;
  HFONT wordsFont_ = nullptr;
  HFONT textFont_ = nullptr;
  HFONT monoFont_ = nullptr;
  TileFonts tileFonts_;
  std::vector<HBRUSH> toneBrushes_;

  HWND title_ = nullptr;
  HWND image_ = nullptr;
  HWND log_ = nullptr;
  HWND totals_ = nullptr;
  HWND rate_ = nullptr;
  HWND startAll_ = nullptr;
  HWND stopAll_ = nullptr;
  HWND recordsBox_ = nullptr;
  HWND records_ = nullptr;
  HWND settingsBox_ = nullptr;
  HWND settings_ = nullptr;
  std::vector<StationTileControls> tiles_;
};

}  // namespace tarvok
