// What the text forms (Intel HEX, S-record) share: the file cut into lines as it arrives in
// chunks of any size, and a line's hex digits turned into bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "burn/ImageFile.h"

namespace tarvok {

// The longest line a record of either form can take (255 bytes as hex digits, with its
// marks), with room for trailing blanks.
inline constexpr size_t kLongestRecordLine = 600;

// Takes one record (a line with its surrounding blanks and line end removed; blank lines are
// not passed) and says what is wrong with it.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual ImageProblem Record(std::string_view record) = 0;
  // The file has ended.
  virtual ImageProblem End() = 0;
};

// Cuts what it is fed into lines (LF or CRLF) and passes each record to the sink. A problem
// from the sink gets the line and the line's offset in the file.
class LineSplitter {
 public:
  LineSplitter(ImageFormat format, RecordSink& sink) : format_(format), sink_(sink) {}

  ImageProblem Feed(std::span<const uint8_t> chunk);
  // After the last chunk: the last line if it has no line end, then the sink's End.
  ImageProblem Finish();

 private:
  // `tooLong`: the line runs past the longest record (and was not kept).
  ImageProblem Line(std::string_view line, bool tooLong = false);

  ImageFormat format_;
  RecordSink& sink_;
  std::string partial_;  // the start of a line the last chunk cut
  uint32_t line_ = 0;    // lines passed so far
  uint64_t offset_ = 0;  // of the next line's start
};

// Decodes pairs of hex digits (either case); false on any other character or an odd count.
bool DecodeHexPairs(std::string_view digits, std::vector<uint8_t>& bytes);

// Whether every character is a hex digit (either case).
bool AllHexDigits(std::string_view digits);

// The first byte of `digits` (two hex digits, already checked).
uint8_t FirstByte(std::string_view digits);

// The bytes' sum, modulo 256.
uint8_t ByteSum(std::span<const uint8_t> bytes);

// `count` bytes from `bytes` as a big-endian number.
uint32_t BigEndian(std::span<const uint8_t> bytes);

}  // namespace tarvok
