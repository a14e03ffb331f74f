// tarvok-station-soak: a station on several simulated fixtures, killed (SIGKILL) at random
// moments and restarted at once, then every board's story checked against the log.
//
// Each fixture is a tarvok-sim presenting its boards one after the other on a port of their
// own; some boards are planned to fail or to be pulled. When the fixtures are done the station
// is stopped with SIGTERM and the soak checks: every board reported, none burned twice, every
// unit number logged once, every passed board's flash the image with its logged unit number,
// every log line whole, the last run's counts its own lines. Boards a restarted station
// attempts again without having seen them leave are counted apart. A board the restarted
// station waits for that does not leave by itself is taken out, as the line's operator would.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "tools/station-soak/BoardHistory.h"
#include "tools/station-soak/Fixture.h"
#include "tools/station-soak/SoakPlan.h"
#include "tools/station-soak/Verdict.h"

namespace {

using namespace tarvok::stationsoak;
using Clock = std::chrono::steady_clock;

struct Options {
  SoakShape shape;
  uint64_t seed = std::random_device{}();
  uint32_t imageBytes = 8192;
  uint32_t appMs = 1000;
  uint32_t gapMs = 500;
  bool throttle = false;
  std::string romBaud;
  std::string tarvokPath = TARVOK_CLI_PATH;
  std::string simPath = TARVOK_SIM_PATH;
  std::string dir;
  bool keep = false;
  bool strictRestart = false;
  bool verbose = false;
  double maxSeconds = 0;
};

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
  CLI::App app{"Station soak: tarvok station on simulated fixtures, killed and restarted"};
  app.add_option("--fixtures", o.shape.fixtures, "fixtures (ports) of the station")
      ->check(CLI::Range(1u, 16u));
  app.add_option("--boards", o.shape.boardsPerFixture, "boards each fixture presents")
      ->check(CLI::Range(1u, 100000u));
  app.add_option("--seed", o.seed, "seed of the faults and the kills (printed)");
  app.add_option("--kills", o.shape.kills, "kills of the station (0: none)");
  app.add_flag("--kill-forever", o.shape.killForever, "keep killing until the fixtures are done");
  app.add_option("--kill-min-ms", o.shape.killMinMs, "shortest run of the station before a kill");
  app.add_option("--kill-max-ms", o.shape.killMaxMs, "longest run of the station before a kill");
  app.add_option("--fail-share", o.shape.failShare, "share of boards that fail their burn")
      ->check(CLI::Range(0.0, 0.5));
  app.add_option("--pull-share", o.shape.pullShare, "share of boards pulled amid their image")
      ->check(CLI::Range(0.0, 0.5));
  app.add_option("--image-size", o.imageBytes, "bytes of the image")
      ->check(CLI::Range(512u, 4u << 20));
  app.add_option("--app-ms", o.appMs, "how long a burned board runs before it leaves");
  app.add_option("--board-gap-ms", o.gapMs, "from one board's leaving to the next's arrival");
  app.add_flag("--throttle", o.throttle, "the fixtures carry bytes at the line's real speed");
  app.add_option("--rom-baud", o.romBaud, "the boot ROM's rate, given to fixtures and station");
  app.add_option("--tarvok", o.tarvokPath, "the tarvok program")->check(CLI::ExistingFile);
  app.add_option("--sim", o.simPath, "the tarvok-sim program")->check(CLI::ExistingFile);
  app.add_option("--dir", o.dir, "keep the soak's files here (default: a temporary folder)");
  app.add_flag("--keep", o.keep, "keep the temporary folder even when the soak passes");
  app.add_flag("--strict-restart", o.strictRestart,
               "boards attempted again after a kill without a leave fail the soak");
  app.add_flag("-v,--verbose", o.verbose, "say each kill and restart");
  app.add_option("--max-seconds", o.maxSeconds, "give up after this long (0: from the boards)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  if (o.shape.killMaxMs < o.shape.killMinMs) {
    std::fprintf(stderr, "--kill-max-ms must not be below --kill-min-ms\n");
    return 2;
  }
  return std::nullopt;
}

std::vector<uint8_t> MakeImage(uint32_t bytes, uint64_t seed) {
  std::mt19937_64 random(seed ^ 0x1234567ull);
  std::vector<uint8_t> image(bytes);
  for (uint8_t& byte : image) {
    byte = static_cast<uint8_t>(random());
  }
  return image;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::size_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::size_t>(size);
}

uint64_t NextUnitInState(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json state = nlohmann::json::parse(text.str(), nullptr, false);
  if (state.is_discarded() || !state.contains("next") || !state["next"].is_number_unsigned()) {
    return 0;
  }
  return state["next"].get<uint64_t>();
}

// The station's ledger: each port's board burned (or burning) and not yet seen leave, with
// when its burn started. Empty when the file is missing or unreadable.
std::map<std::string, std::string> LedgerBoards(const std::string& ledgerPath) {
  std::ifstream in(ledgerPath);
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json ledger = nlohmann::json::parse(text.str(), nullptr, false);
  std::map<std::string, std::string> boards;
  if (!ledger.is_object()) {
    return boards;
  }
  for (const auto& [port, board] : ledger.items()) {
    if (board.is_object() && board.contains("started") && board["started"].is_string()) {
      boards[port] = board["started"].get<std::string>();
    }
  }
  return boards;
}

// A board a restarted station found in its ledger: it waits for that board to leave for as
// long as the entry stays.
struct LeaveWait {
  std::string port;
  std::string started;
};

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The station's runs, one at a time, each started at once after the last ended.
class StationRunner {
 public:
  StationRunner(std::vector<std::string> args, std::string logPath, std::string errPath)
      : args_(std::move(args)),
        logPath_(std::move(logPath)),
        ledgerPath_(logPath_ + ".boards-in-place"),
        errLog_(errPath) {}

  void Start() {
    StationRun run;
    run.start = std::chrono::system_clock::now();
    run.logBytesAtStart = FileSize(logPath_);
    runs_.push_back(run);
    if (runs_.size() > 1) {
      for (const auto& [port, started] : LedgerBoards(ledgerPath_)) {
        leaveWaits_.push_back({port, started});
      }
    }
    errLog_ << "=== station run " << runs_.size() << "\n" << std::flush;
    child_ = std::make_unique<Child>(args_);
  }
  void Pump() {
    child_->ReadLines([this](Stream stream, const std::string& line) { Keep(stream, line); });
    WatchLedger();
  }
  // The run ended by itself (it should not, until it is told to).
  bool EndedUnasked() {
    int code = 0;
    if (!child_->Ended(code)) {
      return false;
    }
    Close(false, code);
    return true;
  }
  void Kill() {
    child_->Signal(SIGKILL);
    int code = 0;
    child_->WaitEnded(10000, code,
                      [this](Stream stream, const std::string& line) { Keep(stream, line); });
    Close(true, code);
  }
  void Stop() {
    child_->Signal(SIGTERM);
    int code = 0;
    if (!child_->WaitEnded(
            20000, code, [this](Stream stream, const std::string& line) { Keep(stream, line); })) {
      child_->Signal(SIGKILL);
      child_->WaitEnded(10000, code, [](Stream, const std::string&) {});
    }
    Close(false, code);
  }
  const std::vector<StationRun>& Runs() const { return runs_; }
  // The boards a restarted station found in its ledger, since the last call.
  std::vector<LeaveWait> TakeLeaveWaits() { return std::exchange(leaveWaits_, {}); }
  // Whether the ledger still holds the board `wait` names: the station still waits for it.
  bool StillWaits(const LeaveWait& wait) const {
    const std::map<std::string, std::string> boards = LedgerBoards(ledgerPath_);
    const auto found = boards.find(wait.port);
    return found != boards.end() && found->second == wait.started;
  }

 private:
  void Keep(Stream stream, const std::string& line) {
    if (stream == Stream::kOut) {
      runs_.back().out += line + "\n";
    } else {
      errLog_ << line << "\n";
    }
  }
  // A burn under way is a board in the station's ledger whose result is still null: the run
  // that first shows it began on that board (read once more after a kill, for a burn the
  // killed run began just before its end).
  void WatchLedger() {
    std::ifstream in(ledgerPath_);
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json ledger = nlohmann::json::parse(text.str(), nullptr, false);
    if (!ledger.is_object()) {
      return;
    }
    for (const auto& [port, board] : ledger.items()) {
      if (!board.is_object() || !board.contains("result") || !board["result"].is_null() ||
          !board.contains("started") || !board["started"].is_string()) {
        continue;
      }
      if (burnsSeen_.insert(port + "\n" + board["started"].get<std::string>()).second) {
        runs_.back().burningPorts.emplace_back(std::chrono::system_clock::now(), port);
      }
    }
  }
  void Close(bool killed, int code) {
    WatchLedger();
    runs_.back().end = std::chrono::system_clock::now();
    runs_.back().killed = killed;
    runs_.back().exitCode = code;
    runs_.back().out += child_->Rest(Stream::kOut);
    errLog_ << child_->Rest(Stream::kErr) << "=== exit " << code << (killed ? " (killed)" : "")
            << "\n"
            << std::flush;
    child_.reset();
  }

  std::vector<std::string> args_;
  std::string logPath_;
  std::string ledgerPath_;
  std::ofstream errLog_;
  std::unique_ptr<Child> child_;
  std::vector<StationRun> runs_;
  std::vector<LeaveWait> leaveWaits_;
  std::set<std::string> burnsSeen_;  // port and start of each burn seen under way
};

// The operator: a board a restarted station waits for, which has not left by itself once a
// cut burn would have ended and its application run, is taken out. Such a board is one whose
// burn the kill cut before a byte reached it: it waits for a burn that never comes.
class Operator {
 public:
  Operator(uint32_t appMs, std::size_t fixtures)
      : patience_(std::chrono::milliseconds(5000 + appMs)), takenOut_(fixtures) {}

  void Hear(const std::vector<LeaveWait>& restartWaits, const std::vector<Fixture>& fixtures) {
    for (const LeaveWait& restartWait : restartWaits) {
      for (std::size_t f = 0; f < fixtures.size(); ++f) {
        if (restartWait.port == fixtures[f].Setup().link) {
          const uint32_t board = fixtures[f].BoardInPlaceAt(std::chrono::system_clock::now());
          if (board != 0) {
            waits_.push_back({f, board, Clock::now() + patience_, restartWait});
          }
        }
      }
    }
  }
  // Takes out the boards whose time has come, if the station still waits for them.
  void Act(std::vector<Fixture>& fixtures, const StationRunner& station, bool verbose) {
    const auto now = Clock::now();
    std::erase_if(waits_, [&](const Wait& wait) {
      if (now < wait.due) {
        return false;
      }
      Fixture& fixture = fixtures[wait.fixture];
      if (fixture.BoardInPlaceAt(std::chrono::system_clock::now()) == wait.board &&
          station.StillWaits(wait.restartWait)) {
        fixture.TakeOutBoard();
        takenOut_[wait.fixture].insert(wait.board);
        if (verbose) {
          std::printf("take out fixture %zu board %u\n", wait.fixture + 1, wait.board);
          std::fflush(stdout);
        }
      }
      return true;
    });
  }
  // Per fixture, the boards taken out.
  const std::vector<std::set<uint32_t>>& TakenOut() const { return takenOut_; }

 private:
  struct Wait {
    std::size_t fixture;
    uint32_t board;
    Clock::time_point due;
    LeaveWait restartWait;
  };
  Clock::duration patience_;
  std::vector<Wait> waits_;
  std::vector<std::set<uint32_t>> takenOut_;
};

std::string UtcText(WallTime time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

// Every board's arrival and leaving and every start and end of the station, in time order,
// in the log's time format: what a failed check is read against.
void WriteTimeline(const std::string& path, const std::vector<Fixture>& fixtures,
                   const std::vector<StationRun>& runs) {
  std::vector<std::pair<WallTime, std::string>> events;
  for (std::size_t f = 0; f < fixtures.size(); ++f) {
    const std::vector<BoardSeen>& boards = fixtures[f].Boards();
    for (std::size_t k = 0; k < boards.size(); ++k) {
      const std::string name =
          "fixture " + std::to_string(f + 1) + " board " + std::to_string(k + 1);
      if (boards[k].hasArrived) {
        events.emplace_back(boards[k].arrived, name + " arrived on " + boards[k].device);
      }
      if (boards[k].hasLeft) {
        events.emplace_back(boards[k].left, name + " left");
      }
    }
  }
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const std::string name = "station run " + std::to_string(r + 1);
    events.emplace_back(runs[r].start, name + " started");
    events.emplace_back(runs[r].end, name + (runs[r].killed ? " killed" : " ended"));
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::ofstream out(path);
  for (const auto& [time, what] : events) {
    out << UtcText(time) << " " << what << "\n";
  }
}

std::vector<std::string> StationArgs(const Options& o, const std::string& imagePath,
                                     const std::vector<Fixture>& fixtures,
                                     const std::string& logPath) {
  std::vector<std::string> args = {o.tarvokPath, "station", imagePath};
  for (const Fixture& fixture : fixtures) {
    args.insert(args.end(), {"--port", fixture.Setup().link});
  }
  args.insert(args.end(), {"--board", "port", "--log", logPath, "--unit-offset", "0x100",
                           "--unit-first", "1000", "--max-failures", "0", "--json"});
  if (!o.romBaud.empty()) {
    args.insert(args.end(), {"--rom-baud", o.romBaud});
  }
  return args;
}

// The fixtures, each a simulated production line of its own with the faults planned for it.
std::vector<Fixture> StartFixtures(const Options& o, const SoakPlan& plan) {
  std::vector<Fixture> fixtures;
  fixtures.reserve(o.shape.fixtures);
  for (uint32_t f = 0; f < o.shape.fixtures; ++f) {
    FixtureSetup setup;
    setup.simPath = o.simPath;
    setup.link = o.dir + "/fixture" + std::to_string(f + 1);
    setup.boardDir = o.dir + "/boards" + std::to_string(f + 1);
    std::filesystem::create_directories(setup.boardDir);
    setup.boards = o.shape.boardsPerFixture;
    setup.appMs = o.appMs;
    setup.gapMs = o.gapMs;
    setup.throttle = o.throttle;
    if (!o.romBaud.empty()) {
      setup.extraArgs = {"--rom-baud", o.romBaud};
    }
    setup.faults = plan.fixtures[f];
    fixtures.emplace_back(setup);
  }
  return fixtures;
}

// Runs the station on the fixtures until every board has left (or `maxSeconds` have gone),
// killing it at the moments the kill clock says and restarting it at once; what went wrong
// with the runs goes to `runProblems`. False when it gave up at `maxSeconds`.
bool RunStation(const Options& o, std::vector<Fixture>& fixtures, StationRunner& station,
                Operator& hands, double maxSeconds, std::vector<std::string>& runProblems) {
  const auto start = Clock::now();
  KillClock kills(o.shape, o.seed ^ 0xC0FFEEull);
  station.Start();
  uint32_t runMs = kills.NextRunMs();
  auto runStart = Clock::now();
  for (;;) {
    bool running = false;
    for (Fixture& fixture : fixtures) {
      running = fixture.Follow() || running;
    }
    station.Pump();
    hands.Hear(station.TakeLeaveWaits(), fixtures);
    hands.Act(fixtures, station, o.verbose);
    if (!running) {
      return true;
    }
    if (Since(start) > maxSeconds) {
      return false;
    }
    if (station.EndedUnasked()) {
      runProblems.push_back("station run " + std::to_string(station.Runs().size()) +
                            " ended by itself (exit " +
                            std::to_string(station.Runs().back().exitCode) + ")");
      station.Start();
    } else if (runMs != 0 && Since(runStart) * 1000 >= runMs) {
      station.Kill();
      if (o.verbose) {
        std::printf("%7.1f s  kill %zu\n", Since(start), station.Runs().size());
        std::fflush(stdout);
      }
      station.Start();
      runMs = kills.NextRunMs();
      runStart = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// What the fixtures complained of once they ended.
void AddFixtureProblems(std::vector<Fixture>& fixtures, std::vector<std::string>& runProblems) {
  for (Fixture& fixture : fixtures) {
    if (fixture.Finish() != 0) {
      runProblems.push_back(fixture.Setup().link + ": the fixture ended with exit code " +
                            std::to_string(fixture.Finish()));
    }
    for (const std::string& complaint : fixture.Complaints()) {
      runProblems.push_back(fixture.Setup().link + " said: " + complaint);
    }
  }
}

// Throughput: boards passed over the time from the station's first start to the last
// board's leaving.
void PrintThroughput(const std::vector<Fixture>& fixtures, const std::vector<StationRun>& runs,
                     const Verdict& verdict, double seconds) {
  WallTime lastLeft = runs.front().start;
  for (const Fixture& fixture : fixtures) {
    for (const BoardSeen& board : fixture.Boards()) {
      lastLeft = board.hasLeft && board.left > lastLeft ? board.left : lastLeft;
    }
  }
  const double span = std::chrono::duration<double>(lastLeft - runs.front().start).count();
  std::printf(
      "%.0f s; %llu boards passed in %.0f s from the station's start to the last "
      "board's leaving: %.0f boards per hour\n",
      seconds, static_cast<unsigned long long>(verdict.figures.passLines), span,
      span > 0 ? static_cast<double>(verdict.figures.passLines) * 3600.0 / span : 0.0);
}

// Reads what the runs left behind and judges it against what the fixtures saw.
Verdict JudgeSoak(const Options& o, const std::vector<Fixture>& fixtures,
                  const StationRunner& station, const Operator& hands,
                  const std::vector<uint8_t>& image, const std::string& logPath) {
  WriteTimeline(o.dir + "/timeline.txt", fixtures, station.Runs());
  const LogReading log = ReadStationLog(logPath);
  const History history = BuildHistory(fixtures, log, station.Runs(), hands.TakenOut());
  VerdictInputs inputs;
  inputs.history = &history;
  inputs.log = &log;
  inputs.runs = &station.Runs();
  inputs.image = &image;
  inputs.units.next = NextUnitInState(logPath + ".unit-state");
  inputs.strictRestart = o.strictRestart;
  return Judge(inputs);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const std::optional<int> done = ParseOptions(argc, argv, o)) {
    return *done;
  }
  signal(SIGPIPE, SIG_IGN);
  const bool temporary = o.dir.empty();
  if (temporary) {
    o.dir = (std::filesystem::temp_directory_path() /
             ("tarvok-station-soak-" + std::to_string(getpid())))
                .string();
  }
  std::filesystem::create_directories(o.dir);
  const std::string imagePath = o.dir + "/image.bin";
  const std::string logPath = o.dir + "/station.jsonl";
  const std::vector<uint8_t> image = MakeImage(o.imageBytes, o.seed);
  if (!WriteFile(imagePath, image)) {
    std::fprintf(stderr, "cannot write %s\n", imagePath.c_str());
    return 1;
  }
  const SoakPlan plan = PlanSoak(o.shape, o.seed);
  std::printf("station soak seed %llu: %u fixtures x %u boards, %u-byte image, in %s\n",
              static_cast<unsigned long long>(o.seed), o.shape.fixtures, o.shape.boardsPerFixture,
              o.imageBytes, o.dir.c_str());
  std::fflush(stdout);

  std::vector<Fixture> fixtures = StartFixtures(o, plan);
  const auto start = Clock::now();
  const double maxSeconds =
      o.maxSeconds > 0 ? o.maxSeconds : 120.0 + 30.0 * o.shape.boardsPerFixture;
  StationRunner station(StationArgs(o, imagePath, fixtures, logPath), logPath,
                        o.dir + "/station.err");
  Operator hands(o.appMs, fixtures.size());
  std::vector<std::string> runProblems;
  const bool finished = RunStation(o, fixtures, station, hands, maxSeconds, runProblems);
  station.Stop();
  const double seconds = Since(start);
  AddFixtureProblems(fixtures, runProblems);
  if (!finished) {
    runProblems.push_back("gave up after " + std::to_string(maxSeconds) + " s");
  }
  Verdict verdict = JudgeSoak(o, fixtures, station, hands, image, logPath);
  verdict.problems.insert(verdict.problems.begin(), runProblems.begin(), runProblems.end());
  PrintThroughput(fixtures, station.Runs(), verdict, seconds);
  PrintTable(verdict, true);
  const bool passed = verdict.problems.empty();
  if (passed && temporary && !o.keep) {
    std::error_code ignored;
    std::filesystem::remove_all(o.dir, ignored);
  } else {
    std::printf("files kept in %s\n", o.dir.c_str());
  }
  return passed ? 0 : 1;
}
