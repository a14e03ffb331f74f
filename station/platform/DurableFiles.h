// The station's files on the system's own calls: whole reads, replacing a file so that a crash
// leaves the old or the new contents and never a mix, an exclusive lock held while the object
// lives, and whole appends flushed to disk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarvok {

enum class ReadResult { kRead, kMissing, kFailed };

// Reads the whole file; kMissing when there is no such file, kFailed with `problem` otherwise.
ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string& problem);

// Writes `text` to a new file beside `path`, flushes it to disk, renames it over `path` and
// (on POSIX) flushes the directory: after a crash at any moment `path` holds the old or the
// new text.
bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string& problem);

// An exclusive lock on a file (created when missing), held until the object is destroyed.
class ExclusiveFileLock {
 public:
  // Null with `busy` set when another holder has it; null with `problem` when it cannot be
  // taken at all.
  static std::unique_ptr<ExclusiveFileLock> Acquire(const std::string& path, bool& busy,
                                                    std::string& problem);
  ~ExclusiveFileLock();
  ExclusiveFileLock(const ExclusiveFileLock&) = delete;
  ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

 private:
  explicit ExclusiveFileLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

// A file opened for appending only (created when missing, never truncated).
class AppendOnlyFile {
 public:
  static std::unique_ptr<AppendOnlyFile> Open(const std::string& path, std::string& problem);
  ~AppendOnlyFile();
  AppendOnlyFile(const AppendOnlyFile&) = delete;
  AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

  // Whether the file has bytes and the last of them is not '\n'.
  bool EndsInsideLine() const;
  // Writes `bytes` at the file's end with one append call (looping only on a short write) and
  // flushes them to disk.
  bool AppendDurably(const std::string& bytes, std::string& problem);

 private:
  explicit AppendOnlyFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace tarvok
