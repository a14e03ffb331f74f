// A production station: every port burns board after board on its own thread, and one port's
// faults never stop another. It ends when stopped, when enough boards have passed, or when
// every port has given up. A window may instead start and stop its ports one by one.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/core/StationPort.h"

namespace tarvok {

class Station {
 public:
  // Everything given outlives the station. `units` is null without unit numbers.
  Station(const StationSetup& setup, StationWorld world, StationObserver& observer,
          OperatorDesk& desk, StationLog& log, BoardLedger& ledger, UnitNumberStore* units);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Runs every port until the station ends; `interrupt` (set by Ctrl-C, say) stops it.
  void Run(const std::atomic<bool>& interrupt);
  // From any thread: every port stops at its next byte.
  void Stop(const PortStop& reason);

  // For a window, not mixed with Run: starts `port` on a thread of its own unless it runs. A
  // port that has stopped starts afresh: its failures in a row forgotten, its counts going on.
  // False when no thread could be made.
  bool StartPort(std::size_t port);
  // From any thread: the port stops at its next byte (a burn under way is recorded as
  // interrupted); `reason` is its stop reason.
  void StopPort(std::size_t port, const PortStop& reason);
  // The port's thread has not yet ended.
  bool PortRunning(std::size_t port) const;
  // Stops every port and waits for their threads (each stops at its next byte).
  void StopAndWait(const PortStop& reason);

  std::size_t PortCount() const { return ports_.size(); }
  const std::string& PortName(std::size_t port) const { return setup_.ports[port].portName; }
  PortCounts Counts(std::size_t port) const;
  PortStop PortStopReason(std::size_t port) const;
  PortCounts Total() const;
  // Why the station ended: kNone when every port gave up on its own.
  PortStop EndReason() const;
  bool Interrupted() const { return interrupted_; }

 private:
  // A port's thread in a window's station, and the counts of its earlier runs.
  struct PortThread {
    std::thread thread;
    std::atomic<bool> running{false};
    PortCounts earlier;
  };

  const StationSetup& setup_;
  StationWorld world_;
  BoardBudget budget_;
  std::atomic<uint64_t> sequence_{0};
  StationShared shared_;
  // Guards which StationPort each entry is: a window's restarted port is a new one.
  mutable std::mutex portsMutex_;
  std::vector<std::unique_ptr<StationPort>> ports_;
  std::vector<std::unique_ptr<PortThread>> threads_;
  mutable std::mutex mutex_;
  PortStop endReason_;
  std::atomic<bool> interrupted_{false};
};

}  // namespace tarvok
