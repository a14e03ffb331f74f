// A one-shot go-ahead from the window's thread to a burn worker: the worker waits in Wait()
// until the window's thread has set its state up and calls Give().
//
// Built on a mutex and a condition variable rather than std::binary_semaphore: the MinGW-w64
// GCC 12 runtime implements the semaphore's wait without futexes, and there a waiter that is
// just going to sleep can miss the release and sleep forever (about one start in a few
// hundred), which left the dialog burning with no worker running.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tarvok {

class StartSignal {
 public:
  void Give() {
    {
      const std::lock_guard lock(mutex_);
      given_ = true;
    }
    changed_.notify_all();
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return given_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool given_ = false;
};

}  // namespace tarvok
