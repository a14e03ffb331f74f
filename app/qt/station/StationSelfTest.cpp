#include "app/qt/station/StationSelfTest.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "app/qt/station/StationTileWidget.h"
#include "app/qt/station/StationWindow.h"
#include "sim/BoardSeries.h"
#include "station/config/OpenStation.h"
#include "station/panel/StationPanelText.h"

namespace tarvok {
namespace {

constexpr uint32_t kBoardsPerFixture = 3;
constexpr int kFixtures = 2;
constexpr int kDeadlineMs = 180'000;

std::vector<std::string> LogLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The burns' mean time from the log, to set beside the command line's on the same fixtures.
std::string MeanBurnSeconds(const std::string& logPath) {
  double sum = 0;
  int boards = 0;
  for (const std::string& line : LogLines(logPath)) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object() && record.contains("total_seconds")) {
      sum += record["total_seconds"].get<double>();
      ++boards;
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s a board", boards == 0 ? 0.0 : sum / boards);
  return text;
}

// Every check in words; empty when all held.
std::string Checked(StationWindow& window, const std::string& logPath) {
  std::ostringstream problems;
  const uint64_t boards = kBoardsPerFixture * kFixtures;
  for (std::size_t port = 0; port < window.tiles.size(); ++port) {
    const StationTile tile = window.Panel().Tile(port);
    const std::string shown = window.tiles[port]->wordsLabel->text().toStdString();
    if (tile.counts.passed != kBoardsPerFixture || tile.counts.failed != 0) {
      problems << tile.port << ": " << tile.countsText << "\n";
    }
    if (shown != "WAITING FOR BOARD" || tile.words != shown) {
      problems << tile.port << " shows " << shown << "\n";
    }
    if (window.tiles[port]->countsLabel->text().toStdString() != "pass 3   fail 0") {
      problems << tile.port << " counts shown as "
               << window.tiles[port]->countsLabel->text().toStdString() << "\n";
    }
  }
  if (window.recordsList->count() != static_cast<int>(boards)) {
    problems << "the records list holds " << window.recordsList->count() << " lines\n";
  }
  for (int row = 0; row < window.recordsList->count(); ++row) {
    if (!window.recordsList->item(row)->text().contains(" PASS ")) {
      problems << "record " << window.recordsList->item(row)->text().toStdString() << "\n";
    }
  }
  const std::vector<std::string> lines = LogLines(logPath);
  if (lines.size() != boards) {
    problems << "the log holds " << lines.size() << " lines\n";
  }
  for (const std::string& line : lines) {
    if (line.find("\"result\":\"pass\"") == std::string::npos) {
      problems << "log line " << line << "\n";
    }
  }
  if (window.totalsLabel->text().toStdString() != "pass 6   fail 0") {
    problems << "the header shows " << window.totalsLabel->text().toStdString() << "\n";
  }
  return problems.str();
}

}  // namespace

int RunStationSelfTest(int argc, char** argv, const std::string& screenshot) {
  char folderName[] = "/tmp/tarvok-station-selftest.XXXXXX";
  if (mkdtemp(folderName) == nullptr) {
    std::cerr << "tarvok-station: no folder for the self-test\n";
    return 1;
  }
  const std::filesystem::path folder = folderName;
  const std::string image = (folder / "firmware.bin").string();
  {
    std::mt19937 random(7);
    std::ofstream out(image, std::ios::binary);
    for (int k = 0; k < 48 * 1024; ++k) {
      out.put(static_cast<char>(random()));
    }
  }

  std::atomic<bool> stopFixtures{false};
  std::vector<std::thread> fixtures;
  StationOptions options;
  for (int fixture = 1; fixture <= kFixtures; ++fixture) {
    sim::BoardSeriesOptions series;
    sim::BoardPlan plan;
    plan.appMs = 600;
    series.board.board = plan;
    series.boards = kBoardsPerFixture;
    series.gapMs = 400;
    series.portPerBoard = true;
    series.link = (folder / ("fixture" + std::to_string(fixture))).string();
    fixtures.emplace_back([series, &stopFixtures] { sim::RunBoardSeries(series, stopFixtures); });
    options.ports.push_back(series.link);
  }
  options.image = image;
  options.log = (folder / "station.jsonl").string();
  options.board = "port";
  options.name = "self-test";

  int status = 1;
  {
    StationParts parts;
    if (const std::optional<StationRefusal> refusal = OpenStation(options, parts)) {
      std::cerr << "tarvok-station: " << RefusalReason(*refusal) << "\n";
    } else {
      QApplication app(argc, argv);
      StationWindow window(std::move(parts), RealStationWorld());
      window.resize(1100, 820);
      window.show();
      window.startButton->click();

      bool pictured = screenshot.empty();
      bool sawBurning = false;
      bool stoppingFirst = false;
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        const PortCounts total = window.Panel().RunningStation().Total();
        for (StationTileWidget* tile : window.tiles) {
          const bool burning = tile->wordsLabel->text().startsWith("BURNING");
          sawBurning = sawBurning || burning;
          if (!pictured && burning && tile->bar->value() >= 40 && tile->bar->value() <= 90 &&
              total.passed >= 2) {
            pictured = true;
            window.grab().save(QString::fromStdString(screenshot));
            std::cout << "saved " << screenshot << std::endl;
          }
        }
        const auto finish = [&](const std::string& problems) {
          poll.stop();
          std::cout << (problems.empty() ? "self-test passed: 6 boards on 2 fixtures, " +
                                               MeanBurnSeconds(options.log) + "\n"
                                         : "self-test FAILED:\n" + problems);
          status = problems.empty() ? 0 : 1;
          window.close();
        };
        if (stoppingFirst) {
          // The first tile's own Stop stops that port alone.
          StationTileWidget& first = *window.tiles[0];
          if (first.wordsLabel->text() != "STOPPED" || first.startStopButton->text() != "Start") {
            return;
          }
          std::string problems;
          if (!first.detailLabel->text().contains("stopped by the operator")) {
            problems += "the stopped tile says " + first.detailLabel->text().toStdString() + "\n";
          }
          if (window.tiles[1]->wordsLabel->text() != "WAITING FOR BOARD") {
            problems += "stopping the first port stopped the second\n";
          }
          finish(problems);
          return;
        }
        // Done once every tile shows the last board gone and the next awaited.
        bool done = total.passed + total.failed >= kBoardsPerFixture * kFixtures;
        for (StationTileWidget* tile : window.tiles) {
          done = done && tile->wordsLabel->text() == "WAITING FOR BOARD";
        }
        if (done) {
          std::string problems = Checked(window, options.log);
          if (!sawBurning) {
            problems += "no tile was seen burning\n";
          }
          if (!problems.empty()) {
            finish(problems);
            return;
          }
          stoppingFirst = true;
          window.tiles[0]->startStopButton->click();
        }
      });
      poll.start(50);
      QTimer::singleShot(kDeadlineMs, [&] {
        std::cout << "self-test FAILED: the boards were not all burned in time\n";
        window.close();
      });
      app.exec();
    }
  }
  stopFixtures = true;
  for (std::thread& fixture : fixtures) {
    fixture.join();
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return status;
}

}  // namespace tarvok
