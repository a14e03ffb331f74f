#include "app/ImageText.h"

namespace tarvok {

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
      switch (problem.fileCode) {
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
    case ImageProblemKind::kTooSmall:
      return "is too small (an image has at least 2 bytes)";
    case ImageProblemKind::kTooLarge:
      return "is larger than the 128 MiB the loader can address";
    default:
      return "cannot be read";
  }
}

std::string ImageFillText(const ImageLayout& /*layout*/) {
  return "";
}

std::string ImageRegionMapText(const ImageLayout& /*layout*/) {
  return "";
}

}  // namespace tarvok
