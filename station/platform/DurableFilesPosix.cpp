#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "station/platform/DurableFiles.h"

namespace tarvok {

namespace {

std::string SystemText(int error) {
  return std::generic_category().message(error);
}

std::string Failure(const std::string& what, const std::string& path, int error) {
  return "cannot " + what + " " + path + ": " + SystemText(error);
}

std::string DirectoryOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

// Writes all of `bytes`: a regular file takes them in one call, a short write goes on from
// where it stopped.
bool WriteAll(int fd, const std::string& bytes, int& error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return ReadResult::kMissing;
    }
    problem = Failure("read", path, errno);
    return ReadResult::kFailed;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem = Failure("read", path, errno);
      ::close(fd);
      return ReadResult::kFailed;
    }
    if (got == 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return ReadResult::kRead;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string& problem) {
  const std::string fresh = path + ".new";
  const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = Failure("create", fresh, errno);
    return false;
  }
  int error = 0;
  if (!WriteAll(fd, text, error)) {
    problem = Failure("write", fresh, error);
    ::close(fd);
    return false;
  }
  if (::fsync(fd) != 0) {
    problem = Failure("flush to disk", fresh, errno);
    ::close(fd);
    return false;
  }
  if (::close(fd) != 0) {
    problem = Failure("write", fresh, errno);
    return false;
  }
  if (::rename(fresh.c_str(), path.c_str()) != 0) {
    problem = Failure("replace", path, errno);
    return false;
  }
  const std::string directory = DirectoryOf(path);
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    problem = Failure("open the folder", directory, errno);
    return false;
  }
  const bool synced = ::fsync(dirFd) == 0;
  if (!synced) {
    problem = Failure("flush to disk the folder", directory, errno);
  }
  ::close(dirFd);
  return synced;
}

std::unique_ptr<ExclusiveFileLock> ExclusiveFileLock::Acquire(const std::string& path, bool& busy,
                                                              std::string& problem) {
  busy = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = Failure("open the lock file", path, errno);
    return nullptr;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) {
      continue;
    }
    if (errno == EWOULDBLOCK) {
      busy = true;
    } else {
      problem = Failure("lock", path, errno);
    }
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ExclusiveFileLock>(new ExclusiveFileLock(fd));
}

ExclusiveFileLock::~ExclusiveFileLock() {
  ::close(Fd(handle_));
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path,
                                                     std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = Failure("open", path, errno);
    return nullptr;
  }
  return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(fd));
}

AppendOnlyFile::~AppendOnlyFile() {
  ::close(Fd(handle_));
}

bool AppendOnlyFile::EndsInsideLine() const {
  struct stat status {};
  if (::fstat(Fd(handle_), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
    return false;
  }
  char last = '\n';
  return ::pread(Fd(handle_), &last, 1, status.st_size - 1) == 1 && last != '\n';
}

bool AppendOnlyFile::AppendDurably(const std::string& bytes, std::string& problem) {
  int error = 0;
  if (!WriteAll(Fd(handle_), bytes, error)) {
    problem = "cannot write: " + SystemText(error);
    return false;
  }
  while (::fsync(Fd(handle_)) != 0) {
    if (errno != EINTR) {
      problem = "cannot flush to disk: " + SystemText(errno);
      return false;
    }
  }
  return true;
}

}  // namespace tarvok
