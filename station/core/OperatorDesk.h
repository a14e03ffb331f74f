// The operator's confirmations that the next board is in place, from the terminal to the
// ports that wait for one. A confirmation counts only for a port that is waiting when it comes,
// so a key pressed during a burn never starts the next one.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace tarvok {

class OperatorDesk {
 public:
  explicit OperatorDesk(std::size_t ports);

  void BeginWaiting(std::size_t port);
  void EndWaiting(std::size_t port);
  // True once, after a confirmation for `port` that came while it waited.
  bool TakeConfirmation(std::size_t port);

  // A line the operator typed: empty confirms every waiting port; a port's number (1-based, in
  // the order the ports were given) or its name confirms that one. False when it names none.
  bool Confirm(const std::string& line, const std::vector<std::string>& portNames);

 private:
  struct Seat {
    bool waiting = false;
    bool confirmed = false;
  };
  std::mutex mutex_;
  std::vector<Seat> seats_;
};

}  // namespace tarvok
