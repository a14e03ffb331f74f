#include "tests/support/Subprocess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/spawn/Spawn.h"

namespace tarvok::testing {

using spawn::ReadLineFrom;
using spawn::ReadRestFrom;

ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnvironment) {
  ProcessResult result;
  spawn::SpawnRequest request;
  request.args = args;
  request.extraEnvironment = extraEnvironment;
  const spawn::Spawned child = spawn::Spawn(request);
  if (child.pid < 0) {
    return result;
  }
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd >= 0 && (fds[k].revents & (POLLIN | POLLHUP)) != 0) {
        char buffer[4096];
        const ssize_t n = read(fds[k].fd, buffer, sizeof(buffer));
        if (n > 0) {
          sinks[k]->append(buffer, static_cast<size_t>(n));
        } else {
          close(fds[k].fd);
          fds[k].fd = -1;
          --open;
        }
      }
    }
  }
  int status = 0;
  waitpid(child.pid, &status, 0);
  result.exitCode = spawn::ExitCodeOf(status);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& args, bool captureErrors) {
  spawn::SpawnRequest request;
  request.args = args;
  request.err = captureErrors ? spawn::Sink::kPipe : spawn::Sink::kInherit;
  const spawn::Spawned child = spawn::Spawn(request);
  pid_ = child.pid;
  out_ = child.out;
  err_ = child.err;
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {out_, err_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

std::string BackgroundProcess::ReadLine() {
  return ReadLineFrom(out_);
}

std::string BackgroundProcess::ReadErrorLine() {
  return ReadLineFrom(err_);
}

std::string BackgroundProcess::ReadRest() {
  return ReadRestFrom(out_);
}

std::string BackgroundProcess::ReadErrorRest() {
  return ReadRestFrom(err_);
}

void BackgroundProcess::Signal(int signal) {
  if (pid_ > 0) {
    kill(pid_, signal);
  }
}

int BackgroundProcess::Wait(int timeoutMs) {
  for (int waited = 0; pid_ > 0 && waited <= timeoutMs; waited += 10) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return spawn::ExitCodeOf(status);
    }
    usleep(10'000);
  }
  return -1;
}

}  // namespace tarvok::testing
