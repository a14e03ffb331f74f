// Simulated fixtures on pseudo-terminals, each seeing its boards in turn on a port of its own
// that appears with each board, and a station planned on them as the command line plans one,
// all in a folder of their own that goes with them: for the station window's tests and its
// picture, never for the shipped program.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "station/panel/StationPanel.h"

namespace tarvok {

struct SimulatedFixture {
  uint32_t boards = 3;
  bool throttle = false;  // the wire at a real line's pace: burns of seconds
};

class SimulatedStation {
 public:
  // Null with `error` set when the folder, the image or the station could not be made.
  static std::unique_ptr<SimulatedStation> Start(const std::vector<SimulatedFixture>& fixtures,
                                                 std::string& error);
  ~SimulatedStation();  // stops the fixtures and removes the folder
  SimulatedStation(const SimulatedStation&) = delete;
  SimulatedStation& operator=(const SimulatedStation&) = delete;

  // The planned station, once, for the window.
  StationParts TakeParts();
  const std::string& LogPath() const { return log_; }
  std::vector<std::string> LogLines() const;

 private:
  SimulatedStation() = default;

  std::filesystem::path folder_;
  std::string log_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> fixtures_;
  StationParts parts_;
};

}  // namespace tarvok
