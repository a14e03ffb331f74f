#include "tools/station-soak/Child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tools/spawn/Spawn.h"

namespace tarvok::stationsoak {
namespace {

// Moves every complete line of `pending` out to `onLine`.
void SplitLines(std::string& pending, Stream stream,
                const std::function<void(Stream, const std::string&)>& onLine) {
  std::size_t start = 0;
  for (std::size_t end = pending.find('\n'); end != std::string::npos;
       end = pending.find('\n', start)) {
    onLine(stream, pending.substr(start, end - start));
    start = end + 1;
  }
  pending.erase(0, start);
}

void Drain(int fd, std::string& pending) {
  char buffer[4096];
  ssize_t n = 0;
  while (fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0) {
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

Child::Child(const std::vector<std::string>& args) {
  spawn::SpawnRequest request;
  request.args = args;
  request.in = spawn::Sink::kNull;
  const spawn::Spawned child = spawn::Spawn(request);
  pid_ = child.pid;
  out_ = child.out;
  err_ = child.err;
  spawn::SetNonBlocking(out_);
  spawn::SetNonBlocking(err_);
}

Child::~Child() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {out_, err_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

void Child::ReadLines(const std::function<void(Stream, const std::string&)>& onLine) {
  Drain(out_, outRest_);
  SplitLines(outRest_, Stream::kOut, onLine);
  Drain(err_, errRest_);
  SplitLines(errRest_, Stream::kErr, onLine);
}

void Child::Signal(int signal) const {
  if (pid_ > 0 && !ended_) {
    kill(pid_, signal);
  }
}

bool Child::Ended(int& exitCode) {
  if (!ended_ && pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      exitCode_ = spawn::ExitCodeOf(status);
    }
  }
  exitCode = exitCode_;
  return ended_ || pid_ <= 0;
}

bool Child::WaitEnded(int timeoutMs, int& exitCode,
                      const std::function<void(Stream, const std::string&)>& onLine) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Ended(exitCode)) {
    ReadLines(onLine);
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ReadLines(onLine);  // what it wrote before it ended
  return true;
}

}  // namespace tarvok::stationsoak
