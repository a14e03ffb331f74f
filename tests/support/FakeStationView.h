// A station window without any toolkit: it keeps what the station's logic showed, each tile's
// words in the order they came, and answers questions as the test says. Work handed over runs
// at once on the calling thread (a port's, in the tests), so no change is ever coalesced away.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "station/panel/StationPanelView.h"

namespace tarvok::testing {

class FakeStationView : public StationPanelView {
 public:
  // Called with every tile shown, outside the view's lock, on the showing thread.
  std::function<void(std::size_t port, const StationTile& tile)> onTile;
  bool answer = true;

  void ShowHeader(const StationHeader& header) override {
    const std::lock_guard lock(mutex_);
    header_ = header;
  }
  void ShowTile(std::size_t port, const StationTile& tile) override {
    {
      const std::lock_guard lock(mutex_);
      // Every percent of a burn would drown the sequence: a burn is one step in it.
      const std::string step = tile.words.rfind("BURNING", 0) == 0 ? "BURNING" : tile.words;
      std::vector<std::string>& steps = steps_[port];
      if (steps.empty() || steps.back() != step) {
        steps.push_back(step);
      }
      if (tile.percent >= 0) {
        percents_[port].push_back(tile.percent);
      }
      tiles_[port] = tile;
    }
    if (onTile) {
      onTile(port, tile);
    }
  }
  void ShowRecords(const std::vector<std::string>& newestFirst) override {
    const std::lock_guard lock(mutex_);
    records_ = newestFirst;
  }
  void ShowSettings(const std::vector<std::string>& lines) override {
    const std::lock_guard lock(mutex_);
    settings_ = lines;
  }
  void ShowStationRunning(bool running) override {
    const std::lock_guard lock(mutex_);
    running_ = running;
  }
  bool Ask(const std::string& question) override {
    const std::lock_guard lock(mutex_);
    questions_.push_back(question);
    return answer;
  }
  void HandOver(std::function<void()> task) override { task(); }

  std::vector<std::string> Steps(std::size_t port) const {
    const std::lock_guard lock(mutex_);
    const auto found = steps_.find(port);
    return found == steps_.end() ? std::vector<std::string>() : found->second;
  }
  std::vector<int> Percents(std::size_t port) const {
    const std::lock_guard lock(mutex_);
    const auto found = percents_.find(port);
    return found == percents_.end() ? std::vector<int>() : found->second;
  }
  StationTile Tile(std::size_t port) const {
    const std::lock_guard lock(mutex_);
    return tiles_.at(port);
  }
  StationHeader Header() const {
    const std::lock_guard lock(mutex_);
    return header_;
  }
  std::vector<std::string> Records() const {
    const std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<std::string> Questions() const {
    const std::lock_guard lock(mutex_);
    return questions_;
  }
  bool Running() const {
    const std::lock_guard lock(mutex_);
    return running_;
  }

 private:
  mutable std::mutex mutex_;
  StationHeader header_;
  std::map<std::size_t, std::vector<std::string>> steps_;
  std::map<std::size_t, std::vector<int>> percents_;
  std::map<std::size_t, StationTile> tiles_;
  std::vector<std::string> records_;
  std::vector<std::string> settings_;
  std::vector<std::string> questions_;
  bool running_ = false;
};

}  // namespace tarvok::testing
