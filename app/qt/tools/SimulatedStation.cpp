#include "app/qt/tools/SimulatedStation.h"

#include <stdlib.h>

#include <fstream>
#include <random>
#include <sstream>

#include "sim/BoardSeries.h"
#include "station/config/OpenStation.h"
#include "station/panel/StationPanelText.h"

namespace tarvok {
namespace {

constexpr int kImageBytes = 48 * 1024;

sim::BoardSeriesOptions SeriesOf(const SimulatedFixture& fixture, const std::string& link) {
  sim::BoardSeriesOptions series;
  sim::BoardPlan plan;
  plan.appMs = 600;
  series.board.board = plan;
  series.board.wire.throttle = fixture.throttle;
  series.boards = fixture.boards;
  series.gapMs = 400;
  series.portPerBoard = true;
  series.link = link;
  return series;
}

}  // namespace

std::unique_ptr<SimulatedStation> SimulatedStation::Start(
    const std::vector<SimulatedFixture>& fixtures, std::string& error) {
  char folderName[] = "/tmp/tarvok-simulated-station.XXXXXX";
  if (mkdtemp(folderName) == nullptr) {
    error = "no folder for the simulated station";
    return nullptr;
  }
  std::unique_ptr<SimulatedStation> station(new SimulatedStation);
  station->folder_ = folderName;
  StationOptions options;
  options.image = (station->folder_ / "firmware.bin").string();
  {
    std::mt19937 random(7);
    std::ofstream out(options.image, std::ios::binary);
    for (int k = 0; k < kImageBytes; ++k) {
      out.put(static_cast<char>(random()));
    }
  }
  for (std::size_t k = 0; k < fixtures.size(); ++k) {
    const std::string link = (station->folder_ / ("fixture" + std::to_string(k + 1))).string();
    const sim::BoardSeriesOptions series = SeriesOf(fixtures[k], link);
    station->fixtures_.emplace_back(
        [series, &stop = station->stop_] { sim::RunBoardSeries(series, stop); });
    options.ports.push_back(link);
  }
  station->log_ = options.log = (station->folder_ / "station.jsonl").string();
  options.board = "port";
  options.name = "simulated line";
  // The loader at the boot ROM's rate, as before the boot stage: a burn lasts long enough to
  // be watched, pictured and closed in its middle.
  options.classic = true;
  if (const std::optional<StationRefusal> refusal = OpenStation(options, station->parts_)) {
    error = RefusalReason(*refusal);
    return nullptr;
  }
  return station;
}

SimulatedStation::~SimulatedStation() {
  stop_ = true;
  for (std::thread& fixture : fixtures_) {
    fixture.join();
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

StationParts SimulatedStation::TakeParts() {
  return std::move(parts_);
}

std::vector<std::string> SimulatedStation::LogLines() const {
  std::ifstream in(log_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace tarvok
