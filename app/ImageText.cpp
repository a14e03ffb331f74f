#include "app/ImageText.h"

#include <cstdio>

namespace tarvok {

namespace {

std::string Hex(uint64_t value, int digits = 8) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

// 4096 as "4,096".
std::string Grouped(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) {
      grouped += ',';
    }
    grouped += digits[at];
  }
  return grouped;
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return Grouped(count) + " " + (count == 1 ? one : many);
}

std::string UnreadableText(uint32_t fileCode) {
  switch (fileCode) {
    case kFileCannotOpen:
      return "cannot be opened (missing, or no permission)";
    case kFileNotRegular:
      return "is not a regular file";
    case kFileEmpty:
      return "is empty";
    case kFileTooLarge:
      return "is too large to load";
    default:
      return "cannot be read";
  }
}

bool IsText(ImageFormat format) {
  return format == ImageFormat::kIntelHex || format == ImageFormat::kSRecord;
}

// Where in the file: "line 12: ", "segment 1 (offset 0x34): ", "offset 0x2A: ".
std::string Place(const ImageProblem& problem) {
  if (IsText(problem.format)) {
    return problem.line == 0 ? "" : "line " + std::to_string(problem.line) + ": ";
  }
  if (problem.format != ImageFormat::kElf32) {
    return "";
  }
  const std::string offset = "offset " + Hex(problem.offset, 1);
  switch (problem.kind) {
    case ImageProblemKind::kSegmentOutsideFile:
    case ImageProblemKind::kBelowFlashBase:
    case ImageProblemKind::kOutsideFlash:
    case ImageProblemKind::kOverlap:
      return "segment " + std::to_string(problem.segment) + " (" + offset + "): ";
    default:
      return offset + ": ";
  }
}

// For an address where the chip's flash sits on its bus, read without that base.
std::string BaseHint(const ImageProblem& problem) {
  if (problem.address < kFlashBusAddress || problem.flashBase == kFlashBusAddress) {
    return "";
  }
  return "; a file linked for the chip's bus addresses needs --flash-base " + Hex(kFlashBusAddress);
}

std::string RecordText(const ImageProblem& problem) {
  const bool hex = problem.format == ImageFormat::kIntelHex;
  switch (problem.kind) {
    case ImageProblemKind::kBadSyntax:
      return hex ? "is not an Intel HEX record (':' and then pairs of hex digits)"
                 : "is not an S-record ('S', a type digit, then pairs of hex digits)";
    case ImageProblemKind::kBadChecksum:
      return "the checksum is " + Hex(problem.found, 2) + " where the record's bytes need " +
             Hex(problem.expected, 2);
    case ImageProblemKind::kTruncated:
      return "the record ends before the bytes its count gives";
    case ImageProblemKind::kBadRecordType:
      return hex ? "record type " + Hex(problem.found, 2) + " is none of Intel HEX's 00 to 05"
                 : std::string(1, 'S').append(std::to_string(problem.found)) +
                       " is no S-record type";
    case ImageProblemKind::kBadRecordLength:
      return "the record's length disagrees with its byte count, or is wrong for its type";
    case ImageProblemKind::kBadCount:
      return "the count record says " + Plural(problem.found, "data record", "data records") +
             " where " + Grouped(problem.expected) + " came before it";
    case ImageProblemKind::kMissingEnd:
      return hex ? "ends without an end-of-file record (type 01): it may be cut short"
                 : "ends without an end record (S7, S8 or S9) or a count record (S5, S6) after "
                   "its data: it may be cut short";
    case ImageProblemKind::kDataAfterEnd:
      return hex ? "a record follows the end-of-file record" : "a record follows the end record";
    default:
      return "";
  }
}

std::string PlacementText(const ImageProblem& problem) {
  switch (problem.kind) {
    case ImageProblemKind::kBelowFlashBase:
      return "bytes at " + Hex(problem.address) + " lie below the flash base " +
             Hex(problem.flashBase) + BaseHint(problem);
    case ImageProblemKind::kOutsideFlash:
      return "bytes at " + Hex(problem.address) + " to " + Hex(problem.endAddress) +
             " lie beyond the flash's 128 MiB" +
             (problem.flashBase == 0 ? "" : " above the flash base " + Hex(problem.flashBase)) +
             BaseHint(problem);
    case ImageProblemKind::kOverlap:
      return "bytes at " + Hex(problem.address) +
             " are written twice (they overlap the bytes from " + Hex(problem.otherAddress) + ")";
    default:
      return "";
  }
}

}  // namespace

std::string ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kIntelHex:
      return "Intel HEX";
    case ImageFormat::kSRecord:
      return "Motorola S-record";
    case ImageFormat::kElf32:
      return "ELF32";
    case ImageFormat::kBinary:
      break;
  }
  return "raw binary";
}

std::string ImageProblemText(const ImageProblem& problem) {
  switch (problem.kind) {
    case ImageProblemKind::kNone:
      return "";
    case ImageProblemKind::kUnreadable:
      return UnreadableText(problem.fileCode);
    case ImageProblemKind::kTooSmall:
      return "is too small (an image has at least 2 bytes)";
    case ImageProblemKind::kTooLarge:
      return "is larger than the 128 MiB the loader can address";
    case ImageProblemKind::kNoData:
      return "holds no bytes to burn";
    case ImageProblemKind::kNotElf32:
      return "is an ELF file, but not 32-bit little-endian";
    case ImageProblemKind::kBadElfHeader:
      return Place(problem) + "the ELF header or its program header table is malformed";
    case ImageProblemKind::kSegmentOutsideFile:
      return Place(problem) + "the segment's bytes run past the end of the file";
    case ImageProblemKind::kBelowFlashBase:
    case ImageProblemKind::kOutsideFlash:
    case ImageProblemKind::kOverlap:
      return Place(problem) + PlacementText(problem);
    default:
      return Place(problem) + RecordText(problem);
  }
}

std::string ImageFillText(const ImageLayout& layout) {
  if (layout.format == ImageFormat::kBinary && layout.filledBytes == 0) {
    return "";
  }
  std::string text =
      ImageFormatName(layout.format) + ", " + Plural(layout.regions.size(), "region", "regions");
  if (layout.filledBytes != 0) {
    text += "; " + Plural(layout.filledBytes, "byte", "bytes") + " of gaps filled with " +
            Hex(kErasedFlashByte, 2);
  }
  return text;
}

std::string ImageRegionMapText(const ImageLayout& layout) {
  std::string text;
  const auto line = [&text](uint64_t start, uint64_t length, const char* what) {
    text += Hex(start) + " to " + Hex(start + length - 1) + ": " + Plural(length, "byte", "bytes") +
            what + "\n";
  };
  uint64_t next = 0;
  for (const ImageRegion& region : layout.regions) {
    if (region.address > next) {
      line(next, region.address - next, " of 0xFF (gap)");
    }
    line(region.address, region.length, "");
    next = uint64_t{region.address} + region.length;
  }
  return text;
}

std::string ImageExtentText(uint32_t bytes, const ImageLayout& layout) {
  std::string text = "burns " + Plural(bytes, "byte", "bytes") + " from flash address 0";
  if (layout.filledBytes != 0) {
    text += ", " + Grouped(layout.filledBytes) + " of them " + Hex(kErasedFlashByte, 2) + " fill";
  }
  return text;
}

}  // namespace tarvok
