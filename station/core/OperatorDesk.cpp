#include "station/core/OperatorDesk.h"

#include <algorithm>
#include <cctype>

#include "serial/PortDiscovery.h"

namespace tarvok {
namespace {

std::string Trimmed(const std::string& text) {
  const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
  const auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
  const auto end = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
  return begin < end ? std::string(begin, end) : std::string();
}

}  // namespace

OperatorDesk::OperatorDesk(std::size_t ports) : seats_(ports) {}

void OperatorDesk::BeginWaiting(std::size_t port) {
  const std::lock_guard lock(mutex_);
  seats_.at(port) = {true, false};
}

void OperatorDesk::EndWaiting(std::size_t port) {
  const std::lock_guard lock(mutex_);
  seats_.at(port) = {false, false};
}

bool OperatorDesk::TakeConfirmation(std::size_t port) {
  const std::lock_guard lock(mutex_);
  Seat& seat = seats_.at(port);
  const bool confirmed = seat.waiting && seat.confirmed;
  seat.confirmed = false;
  return confirmed;
}

bool OperatorDesk::Confirm(const std::string& line, const std::vector<std::string>& portNames) {
  const std::string word = Trimmed(line);
  const std::lock_guard lock(mutex_);
  if (word.empty()) {
    for (Seat& seat : seats_) {
      seat.confirmed = seat.waiting;
    }
    return true;
  }
  for (std::size_t port = 0; port < seats_.size() && port < portNames.size(); ++port) {
    const bool byNumber = word == std::to_string(port + 1);
    if (byNumber || PortNameKey(word) == PortNameKey(portNames[port])) {
      seats_[port].confirmed = seats_[port].waiting;
      return true;
    }
  }
  return false;
}

}  // namespace tarvok
