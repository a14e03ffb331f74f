#include "tools/station-soak/Child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

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
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0) {
    return;
  }
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  out_ = outPipe[0];
  err_ = errPipe[0];
  fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  fcntl(err_, F_SETFL, fcntl(err_, F_GETFL) | O_NONBLOCK);
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
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
