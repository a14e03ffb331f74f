#include "burn/FlashImage.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvok {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

#ifdef _WIN32
// A UTF-8 path as the file system's own; empty when the text is no valid UTF-8.
std::filesystem::path PathOfUtf8(const char* filePath) {
  try {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(filePath)));
  } catch (const std::exception&) {
    return {};
  }
}
#endif

#ifdef _WIN32
using FileStatus = struct _stat64;
// Paths are UTF-8 inside the program and used by their wide form, so that a name outside the
// ANSI code page works too; no process-wide locale takes part.
int StatusOfPath(const char* filePath, FileStatus* status) {
  const std::filesystem::path path = PathOfUtf8(filePath);
  return path.empty() ? -1 : _wstat64(path.c_str(), status);
}
int StatusOf(std::FILE* file, FileStatus* status) {
  return _fstat64(_fileno(file), status);
}
bool IsRegular(const FileStatus& status) {
  return (status.st_mode & _S_IFREG) != 0;
}
std::FILE* OpenWithoutWaiting(const char* filePath) {
  const std::filesystem::path path = PathOfUtf8(filePath);
  return path.empty() ? nullptr : _wfopen(path.c_str(), L"rb");
}
#else
using FileStatus = struct stat;
int StatusOfPath(const char* filePath, FileStatus* status) {
  return stat(filePath, status);
}
int StatusOf(std::FILE* file, FileStatus* status) {
  return fstat(fileno(file), status);
}
bool IsRegular(const FileStatus& status) {
  return S_ISREG(status.st_mode);
}
// POSIX file names are bytes (UTF-8 here): no locale takes part in opening them. Opened
// without waiting, in case the path has become a FIFO since it was examined.
std::FILE* OpenWithoutWaiting(const char* filePath) {
  const int fd = open(filePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
  }
  return file;
}
#endif

}  // namespace

std::FILE* OpenRegularFile(const char* filePath, uint32_t* failure) {
  uint32_t code = 0;
  std::FILE* file = nullptr;
  FileStatus status{};
  if (filePath == nullptr || filePath[0] == '\0') {
    code = 1;
  } else if (StatusOfPath(filePath, &status) != 0) {
    code = 2;
  } else if (!IsRegular(status)) {
    code = 3;
  } else if ((file = OpenWithoutWaiting(filePath)) == nullptr) {
    code = 2;
  } else if (StatusOf(file, &status) != 0 || !IsRegular(status)) {
    std::fclose(file);
    file = nullptr;
    code = 3;
  }
  if (failure != nullptr) {
    *failure = code;
  }
  return file;
}

bool StatusOfOpenFile(std::FILE* file, uint64_t* size, uint32_t* modifiedTime) {
  FileStatus status{};
  if (file == nullptr || StatusOf(file, &status) != 0 || status.st_size < 0) {
    return false;
  }
  *size = static_cast<uint64_t>(status.st_size);
  *modifiedTime = static_cast<uint32_t>(static_cast<uint64_t>(status.st_mtime));
  return true;
}

uint32_t ReadWholeFile(const char* filePath, std::unique_ptr<uint8_t[]>* data, uint32_t* size,
                       uint32_t* modifiedTime) {
  if (filePath == nullptr || filePath[0] == '\0' || data == nullptr || size == nullptr) {
    return kFileNoPath;
  }
  uint32_t failure = 0;
  const File file(OpenRegularFile(filePath, &failure));
  if (!file) {
    return failure;
  }
  FileStatus status{};
  if (StatusOf(file.get(), &status) != 0) {
    return kFileNotRegular;
  }
  if (status.st_size == 0) {
    return kFileEmpty;
  }
  if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > UINT32_MAX) {
    return kFileTooLarge;
  }
  const auto length = static_cast<uint32_t>(status.st_size);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]);
  if (!buffer) {
    return kFileTooLarge;
  }
  if (std::fread(buffer.get(), 1, length, file.get()) != length) {
    return kFileReadFailed;
  }
  *data = std::move(buffer);
  *size = length;
  if (modifiedTime != nullptr) {
    *modifiedTime = static_cast<uint32_t>(static_cast<uint64_t>(status.st_mtime));
  }
  return kFileRead;
}

std::unique_ptr<FlashImage> CreateFlashImage() {
  return std::unique_ptr<FlashImage>(new (std::nothrow) FlashImage());
}

void DestroyFlashImage(std::unique_ptr<FlashImage> image) {
  image.reset();
}

uint32_t FlashImage::LoadFile(const char* filePath) {
  if (filePath == nullptr || filePath[0] == '\0') {
    return kMissingArgument;
  }
  std::string previousPath = path;
  path = filePath;
  std::unique_ptr<uint8_t[]> bytes;
  if (ReadWholeFile(path.c_str(), &bytes, &size, &modifiedTime) != 0) {
    path = std::move(previousPath);
    return kContentsUnavailable;
  }
  data = std::move(bytes);
  endAddress = startAddress + size - 1;
  return 0;
}

uint32_t FlashImage::IsValid() const {
  if (path.empty() || !data || size == 0) {
    return kNotValid;
  }
  if (startAddress == endAddress || endAddress == 0) {
    return kNotValid;
  }
  // The loader takes 27-bit addresses: an image reaching past them would wrap onto the
  // start of flash, and one whose end lies before its start has wrapped already.
  if (endAddress < startAddress || endAddress > kHighestFlashAddress) {
    return kNotValid;
  }
  return 0;
}

uint32_t FlashImage::Validate(ImageView* view) const {
  if (IsValid() == 0) {
    return 0;
  }
  Export(view);
  return kNotValid;
}

void CopyTruncated(const std::string& text, char* out, std::size_t capacity) {
  const std::size_t length = text.size() < capacity ? text.size() : capacity - 1;
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

uint32_t FlashImage::Export(ImageView* view) const {
  if (view == nullptr) {
    return kMissingArgument;
  }
  CopyTruncated(name, view->name, sizeof(view->name));
  view->startAddress = startAddress;
  view->endAddress = endAddress;
  CopyTruncated(path, view->path, sizeof(view->path));
  view->size = size;
  view->reserved = 0;
  view->valid = valid != 0 ? 1 : 0;
  return 0;
}

void FlashImage::UnloadData() {
  data.reset();
  size = 0;
  endAddress = 0;
}

}  // namespace tarvok
