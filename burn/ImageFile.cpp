#include "burn/ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "burn/Elf32.h"
#include "burn/ImageAssembly.h"
#include "burn/IntelHex.h"
#include "burn/SRecord.h"
#include "burn/TextRecords.h"
#include "firmware/tr7340.h"

namespace tarvok {

const uint32_t kFlashBusAddress = TR7340_FLASH_BASE;

namespace {

// How much of a file decides its form: the longest first record, after a few blank lines.
constexpr size_t kHeadBytes = 1024;
// Text forms are read in chunks of this size.
constexpr size_t kChunkBytes = 64 * 1024;
// An ELF file is read whole, debugging sections and all: refused above this size.
constexpr uint64_t kLargestElfFile = 512ull * 1024 * 1024;

bool IsTextBlank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The first line with anything on it, blanks removed; empty when the head has none.
// `mayContinue`: no line end follows it in the head.
std::string_view FirstRecord(std::span<const uint8_t> head, bool& mayContinue) {
  size_t start = 0;
  while (start < head.size() && IsTextBlank(head[start])) {
    ++start;
  }
  size_t end = start;
  while (end < head.size() && head[end] != '\n') {
    ++end;
  }
  mayContinue = end == head.size();
  while (end > start && IsTextBlank(head[end - 1])) {
    --end;
  }
  return {reinterpret_cast<const char*>(head.data()) + start, end - start};
}

// Whether `head` holds nothing but what HEX and S-record files are made of: hex digits, their
// start marks, line ends and blanks.
bool IsRecordText(std::span<const uint8_t> head) {
  return std::all_of(head.begin(), head.end(), [](uint8_t c) {
    return std::isxdigit(c) != 0 || c == ':' || c == 'S' || IsTextBlank(c);
  });
}

// Whether a line of `head` that ends within it is a well-formed record by `isRecord`.
bool HasWholeRecord(std::span<const uint8_t> head, bool (*isRecord)(std::string_view, bool)) {
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  for (size_t start = 0, end = text.find('\n'); end != std::string_view::npos;
       start = end + 1, end = text.find('\n', start)) {
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && IsTextBlank(static_cast<uint8_t>(line.back()))) {
      line.remove_suffix(1);
    }
    while (!line.empty() && IsTextBlank(static_cast<uint8_t>(line.front()))) {
      line.remove_prefix(1);
    }
    if (!line.empty() && isRecord(line, false)) {
      return true;
    }
  }
  return false;
}

bool IsText(ImageFormat format) {
  return format == ImageFormat::kIntelHex || format == ImageFormat::kSRecord;
}

// Decodes a text form fed in chunks: the records' reader, its line splitter and the assembly
// together.
class TextDecoder {
 public:
  TextDecoder(ImageFormat format, uint32_t flashBase)
      : format_(format),
        assembly_(flashBase),
        hex_(assembly_),
        srecord_(assembly_),
        splitter_(format, format == ImageFormat::kIntelHex ? static_cast<RecordSink&>(hex_)
                                                           : static_cast<RecordSink&>(srecord_)) {}

  ImageProblem Feed(std::span<const uint8_t> chunk) { return splitter_.Feed(chunk); }

  ImageProblem Finish(std::vector<uint8_t>& flash, ImageLayout& layout) {
    if (ImageProblem problem = splitter_.Finish()) {
      return problem;
    }
    return assembly_.Finish(format_, flash, layout);
  }

 private:
  ImageFormat format_;
  ImageAssembly assembly_;
  IntelHexReader hex_;
  SRecordReader srecord_;
  LineSplitter splitter_;
};

// A raw binary is the image itself: checked, and its layout one region at 0.
ImageProblem CheckBinary(size_t size, const ImageReadOptions& options, ImageLayout& layout) {
  if (size < 2) {
    return ImageProblem{.kind = ImageProblemKind::kTooSmall};
  }
  if (size - 1 > kHighestFlashAddress) {
    return ImageProblem{.kind = ImageProblemKind::kTooLarge};
  }
  layout = ImageLayout{.flashBase = options.flashBase,
                       .regions = {ImageRegion{0, static_cast<uint32_t>(size)}}};
  return {};
}

ImageProblem Unreadable(uint32_t code) {
  return ImageProblem{.kind = ImageProblemKind::kUnreadable, .fileCode = code};
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to `bytes.size()` bytes; the count read, or nullopt on a read error.
std::optional<size_t> ReadSome(std::FILE* file, std::span<uint8_t> bytes) {
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  if (got < bytes.size() && std::ferror(file) != 0) {
    return std::nullopt;
  }
  return got;
}

// Streams the rest of a text file after its head through the decoder.
ImageProblem DecodeTextStream(std::FILE* file, std::span<const uint8_t> head, ImageFormat format,
                              const ImageReadOptions& options, std::vector<uint8_t>& flash,
                              ImageLayout& layout) {
  TextDecoder decoder(format, options.flashBase);
  if (ImageProblem problem = decoder.Feed(head)) {
    return problem;
  }
  std::vector<uint8_t> chunk(kChunkBytes);
  for (;;) {
    const std::optional<size_t> got = ReadSome(file, chunk);
    if (!got) {
      return Unreadable(kFileReadFailed);
    }
    if (*got == 0) {
      break;
    }
    if (ImageProblem problem = decoder.Feed({chunk.data(), *got})) {
      return problem;
    }
  }
  return decoder.Finish(flash, layout);
}

// Reads the rest of a binary or ELF file after its head whole, and decodes it.
ImageProblem DecodeWhole(std::FILE* file, uint64_t fileBytes, std::span<const uint8_t> head,
                         const ImageReadOptions& options, std::vector<uint8_t>& flash,
                         ImageLayout& layout) {
  const bool elf = DetectImageFormat(head) == ImageFormat::kElf32;
  if (!elf && fileBytes > uint64_t{kHighestFlashAddress} + 1) {
    return ImageProblem{.kind = ImageProblemKind::kTooLarge};
  }
  if (elf && fileBytes > kLargestElfFile) {
    return Unreadable(kFileTooLarge);
  }
  std::vector<uint8_t> bytes(fileBytes);
  std::copy(head.begin(), head.end(), bytes.begin());
  const std::span<uint8_t> rest = std::span<uint8_t>(bytes).subspan(head.size());
  const std::optional<size_t> got = ReadSome(file, rest);
  if (!got || *got != rest.size()) {
    return Unreadable(kFileReadFailed);
  }
  if (!elf) {
    // The file is the image: kept as read, not copied.
    if (ImageProblem problem = CheckBinary(bytes.size(), options, layout)) {
      return problem;
    }
    flash = std::move(bytes);
    return {};
  }
  ImageAssembly assembly(options.flashBase);
  if (ImageProblem problem = ReadElf32(bytes, assembly)) {
    return problem;
  }
  // The segments' bytes are in the assembly now: the file goes before the image is made.
  std::vector<uint8_t>().swap(bytes);
  return assembly.Finish(ImageFormat::kElf32, flash, layout);
}

}  // namespace

ImageFormat DetectImageFormat(std::span<const uint8_t> head) {
  if (HasElfMagic(head)) {
    return ImageFormat::kElf32;
  }
  bool mayContinue = false;
  const std::string_view record = FirstRecord(head, mayContinue);
  // A record form is known by a well-formed first record; or, where the first record is
  // damaged, by a head that is nothing but such records' text, or by a well-formed record of
  // the form on a later line. Such a file is then refused by its line instead of being burned
  // as its text.
  const bool recordText = IsRecordText(head);
  if (!record.empty() && record.front() == ':' &&
      (IsIntelHexRecord(record, mayContinue) ||
       (recordText && record.size() > 2 && AllHexDigits(record.substr(1))) ||
       HasWholeRecord(head, IsIntelHexRecord))) {
    return ImageFormat::kIntelHex;
  }
  if (record.size() > 3 && record.front() == 'S' &&
      std::isdigit(static_cast<unsigned char>(record[1])) != 0 &&
      (IsSRecord(record, mayContinue) || (recordText && AllHexDigits(record.substr(2))) ||
       HasWholeRecord(head, IsSRecord))) {
    return ImageFormat::kSRecord;
  }
  return ImageFormat::kBinary;
}

ImageProblem DecodeImage(std::span<const uint8_t> file, const ImageReadOptions& options,
                         std::vector<uint8_t>& flash, ImageLayout& layout) try {
  const ImageFormat format = DetectImageFormat(file.first(std::min(file.size(), kHeadBytes)));
  if (format == ImageFormat::kBinary) {
    ImageLayout binary;
    if (ImageProblem problem = CheckBinary(file.size(), options, binary)) {
      return problem;
    }
    flash.assign(file.begin(), file.end());
    layout = std::move(binary);
    return {};
  }
  if (IsText(format)) {
    TextDecoder decoder(format, options.flashBase);
    if (ImageProblem problem = decoder.Feed(file)) {
      return problem;
    }
    return decoder.Finish(flash, layout);
  }
  ImageAssembly assembly(options.flashBase);
  if (ImageProblem problem = ReadElf32(file, assembly)) {
    return problem;
  }
  return assembly.Finish(ImageFormat::kElf32, flash, layout);
} catch (const std::bad_alloc&) {
  return Unreadable(kFileTooLarge);  // no memory for the image
}

ImageProblem ReadImage(const std::string& path, const ImageReadOptions& options,
                       FlashImage& image) try {
  uint32_t failure = 0;
  const File file(OpenRegularFile(path.c_str(), &failure));
  if (!file) {
    return Unreadable(failure);
  }
  uint64_t fileBytes = 0;
  uint32_t modifiedTime = 0;
  if (!StatusOfOpenFile(file.get(), &fileBytes, &modifiedTime)) {
    return Unreadable(kFileNotRegular);
  }
  if (fileBytes == 0) {
    return Unreadable(kFileEmpty);
  }
  std::vector<uint8_t> head(std::min<uint64_t>(fileBytes, kHeadBytes));
  if (const std::optional<size_t> got = ReadSome(file.get(), head); !got) {
    return Unreadable(kFileReadFailed);
  } else {
    head.resize(*got);
  }
  auto flash = std::make_shared<std::vector<uint8_t>>();
  ImageLayout layout;
  const ImageFormat format = DetectImageFormat(head);
  const ImageProblem problem =
      IsText(format) ? DecodeTextStream(file.get(), head, format, options, *flash, layout)
                     : DecodeWhole(file.get(), fileBytes, head, options, *flash, layout);
  if (problem) {
    return problem;
  }
  image.path = path;
  image.size = static_cast<uint32_t>(flash->size());
  image.data = std::shared_ptr<const uint8_t[]>(flash, flash->data());
  image.endAddress = image.startAddress + image.size - 1;
  image.modifiedTime = modifiedTime;
  image.layout = std::move(layout);
  return {};
} catch (const std::bad_alloc&) {
  return Unreadable(kFileTooLarge);  // no memory for the file or the image
}

}  // namespace tarvok
