// A window for the dialog's logic without any toolkit: it records what the logic shows and
// lets a test stop the worker at a chosen call, as a person at the window would find it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "app/PortChoices.h"

namespace tarvok::testing {

class FakeDialogView : public DialogView {
 public:
  FakeDialogView() {
    for (int id : {kPortListId, kOriginalRateListId, kBurnRateListId, kDataBitsListId,
                   kParityListId, kStopBitsListId, kOpenButtonId, kBurnButtonId}) {
      enabled_[id] = true;
    }
  }

  // Called with each event ("progress 30", "speed 0 Bps", "message <text>", ...) on the
  // thread that caused it, before it is recorded.
  std::function<void(const std::string&)> onEvent;
  std::map<int, std::pair<int32_t, std::string>> selections = {
      {kPortListId, {1, "COM1001"}},    {kOriginalRateListId, {0, "9600"}},
      {kBurnRateListId, {3, "921600"}}, {kDataBitsListId, {0, "8"}},
      {kParityListId, {0, "NOPARITY"}}, {kStopBitsListId, {0, "ONESTOPBIT"}},
  };
  std::optional<std::string> chosenFile;

  void SetProgress(uint8_t percent) override { Record("progress " + std::to_string(percent)); }
  void SetSpeedText(const std::string& text) override { Record("speed " + text); }
  void SetElapsedText(const std::string& text) override { Record("elapsed " + text); }
  void EnableControl(int controlId, bool enabled) override {
    std::lock_guard lock(mutex_);
    enabled_[controlId] = enabled;
  }
  int32_t SelectedIndex(int controlId) const override { return selections.at(controlId).first; }
  std::string SelectedText(int controlId) const override { return selections.at(controlId).second; }
  void SetPathText(const std::string& path) override { Record("path " + path); }
  void StartTimer() override { Record("timer on"); }
  void StopTimer() override { Record("timer off"); }
  void ShowMessageBox(const std::string& text) override { Record("message " + text); }
  std::optional<std::string> ChooseImageFile() override { return chosenFile; }
  // Runs the task on the calling thread: the tests drive the window's side themselves.
  void HandOver(const std::function<void()>& task) override { task(); }

  // Inspection.
  bool Enabled(int controlId) const {
    std::lock_guard lock(mutex_);
    return enabled_.at(controlId);
  }
  bool AllInputsEnabled(bool enabled) const {
    std::lock_guard lock(mutex_);
    for (const auto& [id, on] : enabled_) {
      if (on != enabled)
        return false;
    }
    return true;
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& e : Events()) {
      if (e.rfind(prefix, 0) == 0)
        matching.push_back(e);
    }
    return matching;
  }
  std::string Last(const std::string& prefix) const {
    const auto matching = EventsStartingWith(prefix);
    return matching.empty() ? std::string() : matching.back().substr(prefix.size());
  }
  bool TimerRunning() const { return Last("timer ") == "on"; }

 private:
  void Record(const std::string& event) {
    if (onEvent) {
      onEvent(event);
    }
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }

  mutable std::mutex mutex_;
  std::map<int, bool> enabled_;
  std::vector<std::string> events_;
};

}  // namespace tarvok::testing
