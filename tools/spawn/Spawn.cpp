#include "tools/spawn/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace tarvok::spawn {
namespace {

// A pipe for a stream that is piped; both ends -1 otherwise.
struct Pipe {
  int read = -1;
  int write = -1;
};

bool OpenPipe(Sink sink, Pipe& pipeFds) {
  if (sink != Sink::kPipe) {
    return true;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    return false;
  }
  pipeFds = {fds[0], fds[1]};
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// Points the child's `target` stream where `sink` says.
void Direct(posix_spawn_file_actions_t& actions, Sink sink, const Pipe& pipeFds, int target) {
  if (sink == Sink::kPipe) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds.write, target);
    posix_spawn_file_actions_addclose(&actions, pipeFds.read);
  } else if (sink == Sink::kNull) {
    posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                     target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& text : strings) {
    pointers.push_back(const_cast<char*>(text.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Spawned Spawn(const SpawnRequest& request) {
  Spawned spawned;
  Pipe out;
  Pipe err;
  if (request.args.empty() || !OpenPipe(request.out, out) || !OpenPipe(request.err, err)) {
    CloseFd(out.read);
    CloseFd(out.write);
    return spawned;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  Direct(actions, request.in == Sink::kNull ? Sink::kNull : Sink::kInherit, {}, STDIN_FILENO);
  Direct(actions, request.out, out, STDOUT_FILENO);
  Direct(actions, request.err, err, STDERR_FILENO);
  std::vector<std::string> environment(request.extraEnvironment);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  const std::vector<char*> argv = Pointers(request.args);
  const std::vector<char*> envp = Pointers(environment);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    spawned.pid = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  CloseFd(out.write);
  CloseFd(err.write);
  if (spawned.pid < 0) {
    CloseFd(out.read);
    CloseFd(err.read);
  }
  spawned.out = out.read;
  spawned.err = err.read;
  return spawned;
}

Spawned ForkRun(const std::function<void(int out)>& body) {
  Spawned spawned;
  int fds[2];
  if (pipe(fds) != 0) {
    return spawned;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    body(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return spawned;
  }
  spawned.pid = pid;
  spawned.out = fds[0];
  return spawned;
}

int ExitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    rest.append(buffer, static_cast<std::size_t>(n));
  }
  return rest;
}

void SetNonBlocking(int fd) {
  if (fd >= 0) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
}

}  // namespace tarvok::spawn
