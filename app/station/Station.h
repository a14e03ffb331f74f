// A production station: every port burns board after board on its own thread, and one port's
// faults never stop another. It ends when stopped, when enough boards have passed, or when
// every port has given up.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/station/StationPort.h"

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
  void Stop(const std::string& reason);

  std::size_t PortCount() const { return ports_.size(); }
  const std::string& PortName(std::size_t port) const { return ports_[port]->Name(); }
  PortCounts Counts(std::size_t port) const { return ports_[port]->Counts(); }
  std::string PortStopReason(std::size_t port) const { return ports_[port]->StopReason(); }
  PortCounts Total() const;
  // Why the station ended: empty when every port gave up on its own.
  std::string EndReason() const;
  bool Interrupted() const { return interrupted_; }

 private:
  const StationSetup& setup_;
  StationWorld world_;
  BoardBudget budget_;
  std::atomic<uint64_t> sequence_{0};
  std::vector<std::unique_ptr<StationPort>> ports_;
  mutable std::mutex mutex_;
  std::string endReason_;
  std::atomic<bool> interrupted_{false};
};

}  // namespace tarvok
