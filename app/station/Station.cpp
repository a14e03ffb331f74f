#include "app/station/Station.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tarvok {

Station::Station(const StationSetup& setup, StationWorld world, StationObserver& observer,
                 OperatorDesk& desk, StationLog& log, BoardLedger& ledger, UnitNumberStore* units)
    : setup_(setup), world_(std::move(world)), budget_(setup.boardsToPass) {
  StationShared shared;
  shared.setup = &setup_;
  shared.world = &world_;
  shared.observer = &observer;
  shared.desk = &desk;
  shared.log = &log;
  shared.units = units;
  shared.ledger = &ledger;
  shared.budget = &budget_;
  shared.sequence = &sequence_;
  shared.stopStation = [this](const std::string& reason) { Stop(reason); };
  for (std::size_t port = 0; port < setup_.ports.size(); ++port) {
    ports_.push_back(std::make_unique<StationPort>(port, shared));
  }
}

Station::~Station() = default;

void Station::Stop(const std::string& reason) {
  {
    const std::lock_guard lock(mutex_);
    if (endReason_.empty()) {
      endReason_ = reason;
    }
  }
  for (auto& port : ports_) {
    port->Stop(reason);
  }
}

void Station::Run(const std::atomic<bool>& interrupt) {
  std::vector<std::thread> threads;
  std::atomic<std::size_t> running{ports_.size()};
  for (auto& port : ports_) {
    threads.emplace_back([&port, &running] {
      port->Run();
      --running;
    });
  }
  while (running > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (interrupt && !interrupted_) {
      interrupted_ = true;
      Stop("interrupted");
    }
    if (budget_.GoalReached()) {
      Stop(std::to_string(setup_.boardsToPass) + " boards passed");
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

PortCounts Station::Total() const {
  PortCounts total;
  for (const auto& port : ports_) {
    const PortCounts counts = port->Counts();
    total.passed += counts.passed;
    total.failed += counts.failed;
    total.interrupted += counts.interrupted;
  }
  return total;
}

std::string Station::EndReason() const {
  const std::lock_guard lock(mutex_);
  return endReason_;
}

}  // namespace tarvok
