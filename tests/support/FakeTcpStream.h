// A scripted TCP connection on a virtual clock, for tests of the network serial devices: it
// records what the client sends, plays what the server sends as pieces arriving at given
// virtual times (each piece one receive, so splits fall where the test puts them), and lets
// the server's TCP acknowledge sent bytes after a set delay. Waits advance the clock at once.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "serial/TcpStream.h"

namespace tarvok::testing {

class FakeTcpStream : public TcpStream {
 public:
  using Bytes = std::vector<uint8_t>;
  // Called with each piece the client sent; typically schedules the server's answer.
  using Responder = std::function<void(FakeTcpStream&, const Bytes& piece)>;
  static constexpr uint32_t kGoneError = ECONNRESET;

  // The server sends `bytes`, arriving `delayUs` from now; they carry the acknowledgement of
  // everything the client sent so far, as the server's TCP piggybacks it.
  void Arrive(int64_t delayUs, Bytes bytes) {
    Insert({nowUs_ + delayUs, std::move(bytes), false, sent.size()});
  }
  // The server closes the connection `delayUs` from now.
  void CloseAt(int64_t delayUs) { Insert({nowUs_ + delayUs, {}, true, sent.size()}); }

  Responder responder;
  // How long the server's TCP takes to acknowledge what arrives; nullopt: it cannot be told
  // (as on Windows).
  std::optional<int64_t> ackDelayUs = 0;
  Bytes sent;  // everything the client sent, in order
  // Each send takes at most the next of these (the write time-out passing); then all.
  std::vector<size_t> sendLimits;

  int64_t Now() const { return nowUs_; }

  bool Send(const uint8_t* data, size_t length, size_t& sentCount, int64_t) override {
    sentCount = 0;
    if (closed_) {
      lastError_ = kGoneError;
      return false;
    }
    sentCount = length;
    if (!sendLimits.empty()) {
      sentCount = std::min(length, sendLimits.front());
      sendLimits.erase(sendLimits.begin());
    }
    const Bytes piece(data, data + sentCount);
    sent.insert(sent.end(), piece.begin(), piece.end());
    sends_.push_back({nowUs_, sentCount});
    if (responder && sentCount > 0) {
      responder(*this, piece);
    }
    return true;
  }

  bool Receive(uint8_t* buffer, size_t length, size_t& received, int64_t deadlineUs) override {
    received = 0;
    if (closed_) {
      lastError_ = kGoneError;
      return false;
    }
    if (arrivals_.empty() || arrivals_.front().atUs > std::max(nowUs_, deadlineUs)) {
      nowUs_ = std::max(nowUs_, deadlineUs);
      return true;
    }
    Arrival& next = arrivals_.front();
    nowUs_ = std::max(nowUs_, next.atUs);
    acknowledgedByReplies_ = std::max(acknowledgedByReplies_, next.acknowledges);
    if (next.close) {
      closed_ = true;
      lastError_ = kGoneError;
      return false;
    }
    received = std::min(length, next.bytes.size());
    std::copy_n(next.bytes.begin(), received, buffer);
    next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<long>(received));
    if (next.bytes.empty()) {
      arrivals_.erase(arrivals_.begin());
    }
    return true;
  }

  bool Unacknowledged(uint32_t& bytes) override {
    if (!ackDelayUs) {
      return false;
    }
    size_t acknowledged = 0;
    for (const auto& s : sends_) {
      if (s.atUs + *ackDelayUs <= nowUs_) {
        acknowledged += s.length;
      }
    }
    bytes = static_cast<uint32_t>(sent.size() - std::max(acknowledged, acknowledgedByReplies_));
    return true;
  }

  int64_t NowUs() const override { return nowUs_; }
  void WaitUntilUs(int64_t atUs) override { nowUs_ = std::max(nowUs_, atUs); }
  uint32_t LastError() const override { return lastError_; }
  void Close() override {}

 private:
  struct Arrival {
    int64_t atUs;
    Bytes bytes;
    bool close;
    size_t acknowledges;  // how many bytes sent its delivery acknowledges
  };
  struct SendRecord {
    int64_t atUs;
    size_t length;
  };

  void Insert(Arrival arrival) {
    auto at = arrivals_.begin();
    while (at != arrivals_.end() && at->atUs <= arrival.atUs) {
      ++at;
    }
    arrivals_.insert(at, std::move(arrival));
  }

  int64_t nowUs_ = 1'000'000;
  std::vector<Arrival> arrivals_;
  std::vector<SendRecord> sends_;
  size_t acknowledgedByReplies_ = 0;
  bool closed_ = false;
  uint32_t lastError_ = 0;
};

}  // namespace tarvok::testing
