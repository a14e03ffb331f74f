#include "tests/support/FakeSerialDevice.h"

#include <algorithm>

namespace tarvok::testing {

bool FailCount::Take() {
  if (remaining == 0) {
    return false;
  }
  if (remaining != kAlways) {
    --remaining;
  }
  return true;
}

FakeSerialDevice::FakeSerialDevice() {
  // What the port set-up configures: 10 ms per byte plus 500 ms for reads and writes.
  timeouts_.readInterval = UINT32_MAX;
  timeouts_.readTotalMultiplier = 10;
  timeouts_.readTotalConstant = 500;
  timeouts_.writeTotalMultiplier = 10;
  timeouts_.writeTotalConstant = 500;
}

void FakeSerialDevice::PushInput(std::span<const uint8_t> bytes, uint64_t delayUs) {
  const uint64_t at = nowUs_ + delayUs;
  auto position = std::upper_bound(input_.begin(), input_.end(), at,
                                   [](uint64_t t, const Arrival& a) { return t < a.atUs; });
  for (const uint8_t byte : bytes) {
    position = input_.insert(position, Arrival{at, byte}) + 1;
  }
}

void FakeSerialDevice::PushInput(std::initializer_list<uint8_t> bytes, uint64_t delayUs) {
  PushInput(std::span<const uint8_t>(bytes.begin(), bytes.size()), delayUs);
}

void FakeSerialDevice::ScriptReads(std::vector<std::vector<uint8_t>> chunks) {
  readScript_.assign(chunks.begin(), chunks.end());
}

void FakeSerialDevice::ScriptWriteAccepts(std::vector<uint32_t> accepts) {
  writeAccepts_.assign(accepts.begin(), accepts.end());
}

std::vector<FakeSerialDevice::Event> FakeSerialDevice::EventsOf(EventKind kind) const {
  std::vector<Event> selected;
  std::copy_if(events_.begin(), events_.end(), std::back_inserter(selected),
               [kind](const Event& e) { return e.kind == kind; });
  return selected;
}

std::vector<uint8_t> FakeSerialDevice::Written() const {
  std::vector<uint8_t> bytes;
  for (const Event& e : events_) {
    if (e.kind == EventKind::kWrite) {
      bytes.insert(bytes.end(), e.bytes.begin(), e.bytes.end());
    }
  }
  return bytes;
}

uint32_t FakeSerialDevice::InputWaiting() const {
  return static_cast<uint32_t>(std::count_if(
      input_.begin(), input_.end(), [this](const Arrival& a) { return a.atUs <= nowUs_; }));
}

uint32_t FakeSerialDevice::Sleeps() const {
  return static_cast<uint32_t>(EventsOf(EventKind::kSleep).size());
}

bool FakeSerialDevice::GetLineSettings(LineSettings& settings) {
  if (failGetLine.Take()) {
    return false;
  }
  settings = settings_;
  return true;
}

bool FakeSerialDevice::SetLineSettings(const LineSettings& settings) {
  if (failSetLine.Take()) {
    return false;
  }
  settings_ = settings;
  events_.push_back({EventKind::kSetLine, nowUs_, {}, settings.baudRate, settings});
  return true;
}

bool FakeSerialDevice::ReadBackLineSettings(LineSettings& settings) {
  settings = settings_;
  if (alterReadBack) {
    alterReadBack(settings);
  }
  return true;
}

DrainResult FakeSerialDevice::Drain() {
  const bool timesOut = drainTimesOut.Take();
  events_.push_back({EventKind::kDrain, nowUs_, {}, timesOut ? 1u : 0u, {}});
  return timesOut ? DrainResult::kTimedOut : DrainResult::kDrained;
}

bool FakeSerialDevice::SetQueueSizes(uint32_t, uint32_t) {
  return true;
}

bool FakeSerialDevice::SetTimeouts(const Timeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

bool FakeSerialDevice::ClearError(CommStatus& status) {
  ++clearErrorCalls_;
  if (failClearError.Take()) {
    return false;
  }
  status.errors = pendingErrors_;
  pendingErrors_ = 0;
  status.inputCount = InputWaiting();
  return true;
}

bool FakeSerialDevice::GetModemStatus(uint32_t& lines) {
  return modemStatus && modemStatus(lines);
}

bool FakeSerialDevice::ClearBreak() {
  events_.push_back({EventKind::kClearBreak, nowUs_, {}, 0, {}});
  return true;
}

bool FakeSerialDevice::Purge(uint32_t actions) {
  if (failPurge.Take()) {
    return false;
  }
  events_.push_back({EventKind::kPurge, nowUs_, {}, actions, {}});
  if ((actions & kPurgeRxClear) != 0) {
    // Only what has arrived is discarded; bytes still on their way arrive later.
    std::erase_if(input_, [this](const Arrival& a) { return a.atUs <= nowUs_; });
  }
  return true;
}

bool FakeSerialDevice::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  ++writeCalls_;
  if (failWrite.Take() || writeCalls_ == failWriteNumber) {
    return false;
  }
  accepted = length;
  if (!writeAccepts_.empty()) {
    accepted = std::min(length, writeAccepts_.front());
    writeAccepts_.pop_front();
  }
  if (accepted == 0) {
    nowUs_ +=
        (uint64_t{timeouts_.writeTotalMultiplier} * length + timeouts_.writeTotalConstant) * 1000;
    return true;
  }
  const std::vector<uint8_t> bytes(data, data + accepted);
  events_.push_back({EventKind::kWrite, nowUs_, bytes, 0, {}});
  if (responder_) {
    responder_(*this, bytes);
  }
  return true;
}

uint64_t FakeSerialDevice::ReadTimeoutUs(uint32_t length) const {
  return (uint64_t{timeouts_.readTotalMultiplier} * length + timeouts_.readTotalConstant) * 1000;
}

bool FakeSerialDevice::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  ++readCalls_;
  received = 0;
  if (failRead.Take()) {
    return false;
  }
  if (!readScript_.empty()) {
    const std::vector<uint8_t> chunk = std::move(readScript_.front());
    readScript_.pop_front();
    if (chunk.empty()) {
      nowUs_ += ReadTimeoutUs(length);
    }
    received = std::min(length, static_cast<uint32_t>(chunk.size()));
    std::copy_n(chunk.begin(), received, buffer);
    return true;
  }
  uint32_t available = InputWaiting();
  if (available == 0) {
    // Wait until the asked count has arrived or the time-out has passed.
    const uint64_t deadline = nowUs_ + ReadTimeoutUs(length);
    if (input_.size() >= length && input_[length - 1].atUs <= deadline) {
      nowUs_ = input_[length - 1].atUs;
    } else {
      nowUs_ = deadline;
    }
    available = InputWaiting();
  }
  received = std::min(length, available);
  for (uint32_t k = 0; k < received; ++k) {
    buffer[k] = input_.front().byte;
    input_.pop_front();
  }
  return true;
}

void FakeSerialDevice::Sleep(uint32_t ms) {
  if (ms == 0) {
    return;  // a yield of the time slice, not a pause
  }
  events_.push_back({EventKind::kSleep, nowUs_, {}, ms, {}});
  nowUs_ += uint64_t{ms} * 1000;
}

}  // namespace tarvok::testing
