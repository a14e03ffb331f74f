// A blocking call that has no time-out of its own (a name's resolution), given one: it runs on
// a thread of its own, and the caller waits for it no longer than it may.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tarvok {

// Runs `work()` and waits for its result until `timeoutMs` has passed; nullopt then. The call
// is left to finish on its own, and `discard` gets its late result (to free it).
template <typename T, typename Work, typename Discard>
std::optional<T> CallWithin(Work work, Discard discard, uint32_t timeoutMs) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> result;
    bool abandoned = false;
  };
  const auto shared = std::make_shared<Shared>();
  std::thread([shared, work, discard] {
    T value = work();
    const std::lock_guard lock(shared->mutex);
    if (shared->abandoned) {
      discard(value);
      return;
    }
    shared->result = value;
    shared->done.notify_one();
  }).detach();
  std::unique_lock lock(shared->mutex);
  if (!shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return shared->result.has_value(); })) {
    shared->abandoned = true;
    return std::nullopt;
  }
  return shared->result;
}

}  // namespace tarvok
