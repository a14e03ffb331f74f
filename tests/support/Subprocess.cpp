#include "tests/support/Subprocess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvok::testing {

ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnvironment) {
  ProcessResult result;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);

  std::vector<std::string> environment(extraEnvironment);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : environment) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
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
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string ReadLineFrom(int fd) {
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') {
    line += c;
  }
  return line;
}

std::string ReadRestFrom(int fd) {
  std::string rest;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
    rest.append(buffer, static_cast<size_t>(n));
  }
  return rest;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& args, bool captureErrors) {
  int outPipe[2];
  int errPipe[2] = {-1, -1};
  if (pipe(outPipe) != 0 || (captureErrors && pipe(errPipe) != 0)) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  if (captureErrors) {
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  }
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
  out_ = outPipe[0];
  if (captureErrors) {
    close(errPipe[1]);
    err_ = errPipe[0];
  }
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
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(10'000);
  }
  return -1;
}

}  // namespace tarvok::testing
