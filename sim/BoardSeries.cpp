#include "sim/BoardSeries.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "burn/LoaderLink.h"
#include "sim/BoardReport.h"
#include "sim/Pty.h"

namespace tarvok::sim {
namespace {

constexpr std::chrono::milliseconds kLook{20};

PtyChipOptions BoardOptions(const BoardSeriesOptions& series, uint32_t number) {
  PtyChipOptions options = series.board;
  BoardPlan plan = options.board.value_or(BoardPlan{});
  plan.number = number;
  plan.pulled = series.pulled.count(number) != 0;
  plan.stuck = series.stuck.count(number) != 0;
  options.board = plan;
  options.hangUpOnLeaving = series.portPerBoard;
  if (series.failing.count(number) != 0) {
    options.chip.loader.replyCode = kReplyFlashError;
    options.chip.loader.replyCodeBlock = 0;
  }
  return options;
}

void PointLink(const std::string& link, const std::string& target) {
  if (link.empty()) {
    return;
  }
  std::error_code ignored;
  std::filesystem::remove(link, ignored);
  std::filesystem::create_symlink(target, link, ignored);
}

void RemoveLink(const std::string& link) {
  if (!link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
  }
}

// Sleeps `ms` unless `stop` is set meanwhile; false when it was.
bool WaitUnlessStopped(uint32_t ms, const std::atomic<bool>& stop) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stop && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(kLook);
  }
  return !stop;
}

// The board's files, then its line on standard error (whoever reads the line finds the
// files); false when the files failed.
bool ReportBoard(const PtyChip& chip, const std::string& boardDir) {
  const BoardRecord record = chip.Board();
  const bool written = boardDir.empty() || WriteBoardFiles(boardDir, record, chip.FlashContents());
  if (!written) {
    std::cerr << "tarvok-sim: cannot write board " << record.number << "'s files in " << boardDir
              << "\n";
  }
  std::cerr << BoardLine(record) << std::endl;
  return written;
}

}  // namespace

int RunBoardSeries(const BoardSeriesOptions& options, const std::atomic<bool>& stop,
                   std::atomic<bool>* takeOut) {
  int status = 0;
  std::unique_ptr<Pty> line;  // the line that outlives its boards, without a port per board
  for (uint32_t number = 1; number <= options.boards && !stop; ++number) {
    if (!line) {
      std::string error;
      line = Pty::Open(options.board.chip.romRate, &error);
      if (!line) {
        std::cerr << "tarvok-sim: " << error << "\n";
        return 1;
      }
      PointLink(options.link, line->Path());
      std::cout << line->Path() << std::endl;
    }
    const auto chip = PtyChip::StartOn(std::move(line), BoardOptions(options, number));
    if (takeOut != nullptr) {
      takeOut->store(false);
    }
    std::cerr << "board " << number << ": in place" << std::endl;
    while (!stop && !chip->BoardGone()) {
      if (takeOut != nullptr && takeOut->exchange(false)) {
        chip->TakeOutBoard();
      }
      std::this_thread::sleep_for(kLook);
    }
    if (options.portPerBoard) {
      RemoveLink(options.link);  // the board took its pseudo-terminal with it
    }
    if (!ReportBoard(*chip, options.boardDir)) {
      status = 1;
    }
    // The next board arrives after the gap; meanwhile the line stays dead, the chip of the
    // board that left swallowing what the host sends.
    if (number < options.boards && !WaitUnlessStopped(options.gapMs, stop)) {
      break;
    }
    if (!options.portPerBoard) {
      line = chip->TakePty();
      if (!line->IsOpen()) {
        line.reset();  // a fault hung it up: the next board comes on a new one
      }
    }
  }
  RemoveLink(options.link);
  return status;
}

}  // namespace tarvok::sim
