#include "tests/windows/StationWindowDriver.h"

#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/win32/station/StationFrame.h"
#include "serial/Win32Text.h"
#include "tests/windows/ScreenPicture.h"

namespace tarvok {
namespace {

// An operator's board cannot be seen to leave: its tile keeps the result while it waits for
// the next one.
constexpr const char* kLastBoardPassed = "PASS";

std::string TextOf(HWND control) {
  wchar_t text[1024] = {};
  GetWindowTextW(control, text, 1024);
  return Utf8FromWide(text);
}

std::string ListLine(HWND list, int row) {
  const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
  if (length == LB_ERR) {
    return "";
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Utf8FromWide(text);
}

void Click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
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

constexpr int kMessageTextId = 0xFFFF;  // the text of a message box

std::vector<std::string> LogLines(const std::string& path) {
  std::ifstream in(std::filesystem::path(WideFromUtf8(path)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

void StationWindowDriver::Start(StationFrame& frame) {
  frame_ = &frame;
  startedMs_ = GetTickCount();
  waitingSince_.assign(frame.Tiles().size(), 0);
  frame.OnDriverTimer([this] { Step(); });
  Click(frame.StartAllButton());
  // Every port runs: Start all has nothing left to start.
  startAllStayedEnabled_ = IsWindowEnabled(frame.StartAllButton()) != FALSE;
}

void StationWindowDriver::Step() {
  if (phase_ == Phase::kDone) {
    return;
  }
  const DWORD now = GetTickCount();
  if (now - startedMs_ > options_.deadlineMs) {
    Finish("the boards were not all burned in time\n");
  } else if (phase_ == Phase::kStoppingFirst) {
    StepStoppingFirst(now);
  } else if (phase_ == Phase::kOneMoreBoard || phase_ == Phase::kAnsweringClose) {
    CloseMidBurn();
  } else if (StepBurning(now)) {
    const std::string problems = CheckedAfterBurns();
    if (!problems.empty()) {
      Finish(problems);
      return;
    }
    // The first tile's own Stop stops that port alone.
    phase_ = Phase::kStoppingFirst;
    Click(frame_->Tiles()[0].startStop);
  }
}

void StationWindowDriver::StepStoppingFirst(DWORD now) {
  const std::vector<StationTileControls>& tiles = frame_->Tiles();
  if (TextOf(tiles[0].words) != "STOPPED" || TextOf(tiles[0].startStop) != "Start") {
    return;
  }
  std::string problems;
  if (TextOf(tiles[0].detail).find("stopped by the operator") == std::string::npos) {
    problems += "the stopped tile says " + TextOf(tiles[0].detail) + "\n";
  }
  if (IsWindowEnabled(frame_->StartAllButton()) == FALSE) {
    problems += "Start all stayed disabled with a port stopped\n";
  }
  for (std::size_t port = 1; port < tiles.size(); ++port) {
    if (TextOf(tiles[port].words) != kLastBoardPassed || !IsWindowVisible(tiles[port].nextBoard)) {
      problems += "stopping the first port changed " + TextOf(tiles[port].name) + " to " +
                  TextOf(tiles[port].words) + "\n";
    }
  }
  if (!problems.empty() || tiles.size() < 2) {
    Finish(problems);
    return;
  }
  Report("");
  phase_ = Phase::kOneMoreBoard;
  stoppedFirstMs_ = now;
}

// Presses Next board on a tile that has waited long enough for its fixture's next board, and
// pictures the window mid-burn once; true once every port has burned its boards.
bool StationWindowDriver::StepBurning(DWORD now) {
  const std::vector<StationTileControls>& tiles = frame_->Tiles();
  const PortCounts total = frame_->Panel().RunningStation().Total();
  bool done = true;
  for (std::size_t port = 0; port < tiles.size(); ++port) {
    const StationTileControls& tile = tiles[port];
    const PortCounts counts = frame_->Panel().Tile(port).counts;
    const bool burning = TextOf(tile.words).rfind("BURNING", 0) == 0;
    sawBurning_ = sawBurning_ || burning;
    const int percent = static_cast<int>(SendMessageW(tile.bar, PBM_GETPOS, 0, 0));
    if (!options_.screenshot.empty() && !pictured_ && burning && percent >= 40 && percent <= 90 &&
        total.passed >= 2) {
      TakeScreenshot();
    }
    const bool allBurned = counts.passed + counts.failed >= options_.boardsPerPort;
    const bool waitsForOperator = IsWindowVisible(tile.nextBoard) != FALSE;
    done = done && allBurned && waitsForOperator;
    if (!waitsForOperator || allBurned) {
      waitingSince_[port] = 0;
    } else if (waitingSince_[port] == 0) {
      waitingSince_[port] = now;
    } else if (now - waitingSince_[port] >= options_.nextBoardAfterMs) {
      Click(tile.nextBoard);
      ++nextBoardPresses_;
      waitingSince_[port] = 0;
    }
  }
  return done;
}

std::string StationWindowDriver::CheckedAfterBurns() const {
  std::ostringstream problems;
  const std::vector<StationTileControls>& tiles = frame_->Tiles();
  const uint64_t boards = options_.boardsPerPort * tiles.size();
  const std::string counts = "pass " + std::to_string(options_.boardsPerPort) + "   fail 0";
  for (std::size_t port = 0; port < tiles.size(); ++port) {
    const StationTile tile = frame_->Panel().Tile(port);
    const std::string shown = TextOf(tiles[port].words);
    if (tile.counts.passed != options_.boardsPerPort || tile.counts.failed != 0) {
      problems << tile.port << ": " << tile.countsText << "\n";
    }
    if (shown != kLastBoardPassed || tile.words != shown) {
      problems << tile.port << " shows " << shown << "\n";
    }
    if (TextOf(tiles[port].name) != tile.port) {
      problems << "tile " << port + 1 << " is named " << TextOf(tiles[port].name) << "\n";
    }
    if (TextOf(tiles[port].counts) != counts) {
      problems << tile.port << " counts shown as " << TextOf(tiles[port].counts) << "\n";
    }
  }
  if (!sawBurning_) {
    problems << "no tile was seen burning\n";
  }
  if (startAllStayedEnabled_) {
    problems << "Start all could be pressed while every port ran\n";
  }
  const HWND list = frame_->RecordsList();
  const auto rows = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  if (rows != static_cast<int>(boards)) {
    problems << "the records list holds " << rows << " lines\n";
  }
  for (int row = 0; row < rows; ++row) {
    if (ListLine(list, row).find(" PASS ") == std::string::npos) {
      problems << "record " << ListLine(list, row) << "\n";
    }
  }
  const std::vector<std::string> lines = LogLines(options_.log);
  for (const std::string& line : lines) {
    if (line.find("\"result\":\"pass\"") == std::string::npos) {
      problems << "log line " << line << "\n";
    }
  }
  if (lines.size() != boards) {
    problems << "the log holds " << lines.size() << " lines\n";
  }
  const std::string totals = "pass " + std::to_string(boards) + "   fail 0";
  if (TextOf(frame_->TotalsLabel()) != totals) {
    problems << "the header shows " << TextOf(frame_->TotalsLabel()) << "\n";
  }
  return problems.str();
}

// The second port's next board starts burning; the window is closed under it and the question
// answered with Yes.
void StationWindowDriver::CloseMidBurn() {
  const StationTileControls& second = frame_->Tiles()[1];
  if (phase_ == Phase::kAnsweringClose) {
    BoxSearch search{frame_->Window(), nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchMessageBox, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      wchar_t text[1024] = {};
      GetDlgItemTextW(search.found, kMessageTextId, text, 1024);
      question_ = Utf8FromWide(text);
      phase_ = Phase::kDone;
      PostMessageW(search.found, WM_COMMAND, IDYES, 0);
    }
    return;
  }
  if (!pressedOneMore_) {
    if (GetTickCount() - stoppedFirstMs_ >= options_.nextBoardAfterMs) {
      pressedOneMore_ = true;
      Click(second.nextBoard);
    }
    return;
  }
  const int percent = static_cast<int>(SendMessageW(second.bar, PBM_GETPOS, 0, 0));
  if (TextOf(second.words).rfind("BURNING", 0) == 0 && percent >= 20) {
    phase_ = Phase::kAnsweringClose;
    PostMessageW(frame_->Window(), WM_CLOSE, 0, 0);
  }
}

void StationWindowDriver::CheckAfterClose() {
  if (result_ != 0) {
    return;  // already failed
  }
  std::string problems;
  if (question_.find("A board is burning") == std::string::npos) {
    problems += "closing in mid-burn asked: " + question_ + "\n";
  }
  const std::vector<std::string> lines = LogLines(options_.log);
  const uint64_t passed = options_.boardsPerPort * frame_->Tiles().size();
  if (lines.size() != passed + 1 ||
      lines.back().find("\"result\":\"interrupted\"") == std::string::npos) {
    problems += "the log does not end with the interrupted board: " +
                (lines.empty() ? std::string("(empty)") : lines.back()) + "\n";
  }
  report_ += "closed in mid-burn after: " + question_ + "\n";
  report_ += problems.empty() ? "test passed: the interrupted board is in the log\n"
                              : "test FAILED:\n" + problems;
  result_ = problems.empty() ? 0 : 1;
}

void StationWindowDriver::Finish(const std::string& problems) {
  Report(problems);
  phase_ = Phase::kDone;
  PostMessageW(frame_->Window(), WM_CLOSE, 0, 0);
}

void StationWindowDriver::Report(const std::string& problems) {
  result_ = problems.empty() ? 0 : 1;
  const std::vector<StationTileControls>& tiles = frame_->Tiles();
  std::ostringstream report;
  for (const StationTileControls& tile : tiles) {
    report << TextOf(tile.name) << ": " << TextOf(tile.words) << ", " << TextOf(tile.counts)
           << "\n";
  }
  report << "Next board pressed " << nextBoardPresses_ << " times\n";
  report << (problems.empty()
                 ? "test passed: " + std::to_string(options_.boardsPerPort * tiles.size()) +
                       " boards on " + std::to_string(tiles.size()) + " ports\n"
                 : "test FAILED:\n" + problems);
  report_ = report.str();
}

void StationWindowDriver::TakeScreenshot() {
  pictured_ = true;
  const HWND window = frame_->Window();
  // The client area: the frame around it is the window manager's, if there is one.
  RECT client{};
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  SaveScreenPicture({origin.x, origin.y, origin.x + client.right, origin.y + client.bottom},
                    options_.screenshot);
}

}  // namespace tarvok
