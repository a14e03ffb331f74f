#include "tools/station-soak/Fixture.h"

#include <cstdio>

namespace tarvok::stationsoak {
namespace {

std::string NumberList(const std::set<uint32_t>& numbers) {
  std::string list;
  for (const uint32_t number : numbers) {
    if (!list.empty()) {
      list += ',';
    }
    list += std::to_string(number);
  }
  return list;
}

std::vector<std::string> SimArgs(const FixtureSetup& setup) {
  std::vector<std::string> args = {setup.simPath,
                                   "--boards",
                                   std::to_string(setup.boards),
                                   "--port-per-board",
                                   "--link",
                                   setup.link,
                                   "--board-dir",
                                   setup.boardDir,
                                   "--app-ms",
                                   std::to_string(setup.appMs),
                                   "--board-gap-ms",
                                   std::to_string(setup.gapMs)};
  if (setup.throttle) {
    args.emplace_back("--throttle");
  }
  if (!setup.faults.failing.empty()) {
    args.insert(args.end(), {"--fail-board", NumberList(setup.faults.failing)});
  }
  if (!setup.faults.pulled.empty()) {
    args.insert(args.end(), {"--pull-board", NumberList(setup.faults.pulled)});
  }
  args.insert(args.end(), setup.extraArgs.begin(), setup.extraArgs.end());
  return args;
}

}  // namespace

Fixture::Fixture(const FixtureSetup& setup)
    : setup_(setup), child_(std::make_unique<Child>(SimArgs(setup))), boards_(setup.boards) {}

bool Fixture::Follow() {
  child_->ReadLines([this](Stream stream, const std::string& line) { OnLine(stream, line); });
  return !child_->Ended(exitCode_);
}

int Fixture::Finish() {
  if (!ended_) {
    child_->WaitEnded(10000, exitCode_,
                      [this](Stream stream, const std::string& line) { OnLine(stream, line); });
    ended_ = true;
  }
  return exitCode_;
}

// Standard output names each board's pseudo-terminal in turn; standard error says
// "board K: in place" on arrival and "board K: <result>, ..." on leaving.
void Fixture::OnLine(Stream stream, const std::string& line) {
  const WallTime now = std::chrono::system_clock::now();
  if (stream == Stream::kOut) {
    if (devicesAnnounced_ < boards_.size()) {
      boards_[devicesAnnounced_].device = line;
    }
    ++devicesAnnounced_;
    return;
  }
  unsigned number = 0;
  int used = 0;
  if (std::sscanf(line.c_str(), "board %u: %n", &number, &used) != 1 || used == 0 || number == 0 ||
      number > boards_.size()) {
    complaints_.push_back(line);
    return;
  }
  BoardSeen& board = boards_[number - 1];
  if (line.compare(static_cast<std::size_t>(used), std::string::npos, "in place") == 0) {
    board.arrived = now;
    board.hasArrived = true;
  } else {
    board.left = now;
    board.hasLeft = true;
  }
}

uint32_t Fixture::BoardInPlaceAt(WallTime when) const {
  for (std::size_t k = 0; k < boards_.size(); ++k) {
    const BoardSeen& board = boards_[k];
    if (board.hasArrived && board.arrived <= when && (!board.hasLeft || when < board.left)) {
      return static_cast<uint32_t>(k + 1);
    }
  }
  return 0;
}

}  // namespace tarvok::stationsoak
