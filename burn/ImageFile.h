// Reading the image a burn writes, in the forms firmware builds produce: raw binary, Intel
// HEX, Motorola S-record and ELF32. Each becomes one model: regions placed in flash, and the
// bytes burned from flash address 0 in one stream, with the gaps between regions (and before
// the first) filled with the flash's erased value. The form comes from the content, never
// from the file's name.
//
// Nothing here opens a port or prints: a problem is a type, and a front end says it in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "burn/FlashImage.h"
#include "burn/ImageLayout.h"

namespace tarvok {

enum class ImageProblemKind {
  kNone,
  // The file itself (see fileCode: ReadWholeFile's codes).
  kUnreadable,
  kTooSmall,  // fewer than 2 bytes to burn
  kTooLarge,  // ends above the 128 MiB the loader can address
  // Inside a record of a text form (line) or the structure of an ELF file (offset).
  kBadSyntax,        // not a record: a character that is no hex digit, a missing start mark
  kBadChecksum,      // a record's checksum does not match its bytes
  kTruncated,        // the file ends inside a record, or a record's length runs past it
  kBadRecordType,    // a HEX type above 05, an S4 or an unknown S-record
  kBadRecordLength,  // a record's length field disagrees with its bytes, or is wrong for its type
  kBadCount,         // an S5/S6 count that is not the number of data records before it
  kMissingEnd,       // no end record (HEX 01, S7/S8/S9) where the form needs one
  kDataAfterEnd,     // a data record after the end record
  kNotElf32,         // an ELF file that is not 32-bit little-endian
  kBadElfHeader,     // a header, or a program header table, outside the file or malformed
  kSegmentOutsideFile,  // a loadable segment's bytes run past the end of the file
  // Where the bytes go.
  kBelowFlashBase,  // an address below --flash-base
  kOutsideFlash,    // an address above the flash's 128 MiB (after the base is taken off)
  kOverlap,         // two records or segments write the same address
  kNoData,          // no bytes to burn at all
};

struct ImageProblem {
  ImageProblemKind kind = ImageProblemKind::kNone;
  ImageFormat format = ImageFormat::kBinary;
  uint32_t fileCode = 0;      // ReadWholeFile's result, for kUnreadable
  uint32_t line = 0;          // 1-based line of a text form's record; 0 when none
  uint64_t offset = 0;        // byte offset in the file (ELF; and text forms' record start)
  uint64_t address = 0;       // the file's address at fault (outside, below base, overlap)
  uint64_t otherAddress = 0;  // kOverlap: the start of the region it overlaps
  uint32_t segment = 0;       // ELF: the program header's index
  uint64_t endAddress = 0;    // kOutsideFlash: the file's address of the record's last byte
  uint32_t flashBase = 0;     // the base in force, for the address problems
  uint32_t expected = 0;      // kBadChecksum: the checksum the bytes need; kBadCount: the count
  uint32_t found = 0;         // kBadChecksum: the record's checksum; kBadCount: the record's

  explicit operator bool() const { return kind != ImageProblemKind::kNone; }
};

// The help of the option that sets ImageReadOptions::flashBase, for every front end.
inline constexpr const char* kFlashBaseHelp =
    "the address the image's file gives flash address 0 (0x10000000 for an image linked at the "
    "flash's bus address); HEX, S-record and ELF addresses are taken less this";

// Where the TR7340's flash sits on its bus: the base a file linked for the chip's addresses
// needs.
extern const uint32_t kFlashBusAddress;

struct ImageReadOptions {
  uint32_t flashBase = 0;  // --flash-base: the bus address of flash address 0
};

// The form of `head` (the file's first bytes, at least 64 when the file has them).
ImageFormat DetectImageFormat(std::span<const uint8_t> head);

// Decodes a whole file's bytes into the bytes burned from flash address 0 (`flash`, which is
// replaced) and their layout. Nothing is written to the outputs on a problem.
ImageProblem DecodeImage(std::span<const uint8_t> file, const ImageReadOptions& options,
                         std::vector<uint8_t>& flash, ImageLayout& layout);

// Reads the file at `path` (UTF-8; refused if not a regular file), decodes it and fills
// `image` (path, data, size, endAddress, modifiedTime, layout) ready to burn. Text forms are
// read as a stream, so memory stays within a small multiple of the image. `image` is
// untouched on a problem.
ImageProblem ReadImage(const std::string& path, const ImageReadOptions& options, FlashImage& image);

}  // namespace tarvok
