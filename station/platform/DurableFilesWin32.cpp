#include <windows.h>

#include <algorithm>

#include "serial/Win32Text.h"
#include "station/platform/DurableFiles.h"

namespace tarvok {

namespace {

std::string SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) {
    wide.pop_back();
  }
  return wide.empty() ? "Windows error " + std::to_string(error) : Utf8FromWide(wide);
}

std::string Failure(const std::string& what, const std::string& path, DWORD error) {
  return "cannot " + what + " " + path + ": " + SystemText(error);
}

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t Stored(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes all of `bytes`: a file takes them in one call, a short write goes on from where it
// stopped.
bool WriteAll(HANDLE file, const std::string& bytes, DWORD& error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, 1u << 30);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr)) {
      error = GetLastError();
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string& problem) {
  const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return ReadResult::kMissing;
    }
    problem = Failure("read", path, error);
    return ReadResult::kFailed;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
      problem = Failure("read", path, GetLastError());
      CloseHandle(file);
      return ReadResult::kFailed;
    }
    if (got == 0) {
      break;
    }
    text.append(buffer, got);
  }
  CloseHandle(file);
  return ReadResult::kRead;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string& problem) {
  const std::string fresh = path + ".new";
  const std::wstring widePath = WideFromUtf8(path);
  const std::wstring wideFresh = WideFromUtf8(fresh);
  const HANDLE file = CreateFileW(wideFresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem = Failure("create", fresh, GetLastError());
    return false;
  }
  DWORD error = 0;
  if (!WriteAll(file, text, error)) {
    problem = Failure("write", fresh, error);
    CloseHandle(file);
    return false;
  }
  if (!FlushFileBuffers(file)) {
    problem = Failure("flush to disk", fresh, GetLastError());
    CloseHandle(file);
    return false;
  }
  CloseHandle(file);
  if (!MoveFileExW(wideFresh.c_str(), widePath.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    problem = Failure("replace", path, GetLastError());
    return false;
  }
  return true;
}

std::unique_ptr<ExclusiveFileLock> ExclusiveFileLock::Acquire(const std::string& path, bool& busy,
                                                              std::string& problem) {
  busy = false;
  const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem = Failure("open the lock file", path, GetLastError());
    return nullptr;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
      busy = true;
    } else {
      problem = Failure("lock", path, error);
    }
    CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<ExclusiveFileLock>(new ExclusiveFileLock(Stored(file)));
}

ExclusiveFileLock::~ExclusiveFileLock() {
  CloseHandle(Handle(handle_));
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path,
                                                     std::string& problem) {
  // Append rights without write rights: every WriteFile lands at the file's end, whoever else
  // appends to it.
  const HANDLE file =
      CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                  kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem = Failure("open", path, GetLastError());
    return nullptr;
  }
  return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(Stored(file)));
}

AppendOnlyFile::~AppendOnlyFile() {
  CloseHandle(Handle(handle_));
}

bool AppendOnlyFile::EndsInsideLine() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(handle_), &size) || size.QuadPart == 0) {
    return false;
  }
  OVERLAPPED at{};
  const auto lastOffset = static_cast<ULONGLONG>(size.QuadPart - 1);
  at.Offset = static_cast<DWORD>(lastOffset);
  at.OffsetHigh = static_cast<DWORD>(lastOffset >> 32);
  char last = '\n';
  DWORD got = 0;
  return ReadFile(Handle(handle_), &last, 1, &got, &at) && got == 1 && last != '\n';
}

bool AppendOnlyFile::AppendDurably(const std::string& bytes, std::string& problem) {
  DWORD error = 0;
  if (!WriteAll(Handle(handle_), bytes, error)) {
    problem = "cannot write: " + SystemText(error);
    return false;
  }
  if (!FlushFileBuffers(Handle(handle_))) {
    problem = "cannot flush to disk: " + SystemText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace tarvok
