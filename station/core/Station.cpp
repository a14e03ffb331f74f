#include "station/core/Station.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace tarvok {

Station::Station(const StationSetup& setup, StationWorld world, StationObserver& observer,
                 OperatorDesk& desk, StationLog& log, BoardLedger& ledger, UnitNumberStore* units)
    : setup_(setup),
      world_(std::move(world)),
      budget_(setup.boardsToPass),
      sequence_(log.LastSequence()) {
  shared_.setup = &setup_;
  shared_.world = &world_;
  shared_.observer = &observer;
  shared_.desk = &desk;
  shared_.log = &log;
  shared_.units = units;
  shared_.ledger = &ledger;
  shared_.budget = &budget_;
  shared_.sequence = &sequence_;
  shared_.stopStation = [this](const PortStop& reason) { Stop(reason); };
  for (std::size_t port = 0; port < setup_.ports.size(); ++port) {
    ports_.push_back(std::make_unique<StationPort>(port, shared_));
    threads_.push_back(std::make_unique<PortThread>());
  }
}

Station::~Station() {
  const bool anyThread = std::any_of(threads_.begin(), threads_.end(),
                                     [](const auto& slot) { return slot->thread.joinable(); });
  if (anyThread) {
    StopAndWait(PortStop{.kind = PortStopKind::kStationClosed});
  }
}

void Station::Stop(const PortStop& reason) {
  {
    const std::lock_guard lock(mutex_);
    if (endReason_.kind == PortStopKind::kNone) {
      endReason_ = reason;
    }
  }
  const std::lock_guard lock(portsMutex_);
  for (auto& port : ports_) {
    port->Stop(reason);
  }
}

bool Station::StartPort(std::size_t port) {
  PortThread& slot = *threads_.at(port);
  if (slot.running && PortStopReason(port).kind == PortStopKind::kNone) {
    return true;  // running, and not told to stop
  }
  // A port told to stop ends at its next byte: its thread is waited for, then started afresh.
  if (slot.thread.joinable()) {
    slot.thread.join();
  }
  StationPort* fresh = nullptr;
  {
    const std::lock_guard lock(portsMutex_);
    const PortCounts counts = ports_[port]->Counts();
    slot.earlier += counts;
    ports_[port] = std::make_unique<StationPort>(port, shared_);
    fresh = ports_[port].get();
  }
  {
    const std::lock_guard lock(mutex_);
    endReason_ = {};
  }
  slot.running = true;
  try {
    slot.thread = std::thread([fresh, &slot] {
      fresh->Run();
      slot.running = false;
    });
  } catch (const std::system_error&) {
    slot.running = false;
    return false;
  }
  return true;
}

void Station::StopPort(std::size_t port, const PortStop& reason) {
  const std::lock_guard lock(portsMutex_);
  ports_.at(port)->Stop(reason);
}

bool Station::PortRunning(std::size_t port) const {
  return threads_.at(port)->running;
}

void Station::StopAndWait(const PortStop& reason) {
  Stop(reason);
  for (auto& slot : threads_) {
    if (slot->thread.joinable()) {
      slot->thread.join();
    }
  }
}

PortCounts Station::Counts(std::size_t port) const {
  const std::lock_guard lock(portsMutex_);
  PortCounts counts = ports_.at(port)->Counts();
  const PortCounts& earlier = threads_.at(port)->earlier;
  counts += earlier;
  return counts;
}

PortStop Station::PortStopReason(std::size_t port) const {
  const std::lock_guard lock(portsMutex_);
  return ports_.at(port)->StopReason();
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
      Stop(PortStop{.kind = PortStopKind::kInterrupted});
    }
    if (budget_.GoalReached()) {
      PortStop done;
      done.kind = PortStopKind::kBoardsPassed;
      done.count = setup_.boardsToPass;
      Stop(done);
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

PortCounts Station::Total() const {
  PortCounts total;
  for (std::size_t port = 0; port < ports_.size(); ++port) {
    const PortCounts counts = Counts(port);
    total += counts;
  }
  return total;
}

PortStop Station::EndReason() const {
  const std::lock_guard lock(mutex_);
  return endReason_;
}

}  // namespace tarvok
