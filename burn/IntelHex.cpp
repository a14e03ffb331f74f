#include "burn/IntelHex.h"

#include <algorithm>

namespace tarvok {

namespace {

enum : uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegment = 0x02,
  kStartSegment = 0x03,
  kExtendedLinear = 0x04,
  kStartLinear = 0x05,
};

// Count, two address bytes, type, checksum.
constexpr size_t kFramingBytes = 5;

// The length of each type's data; -1 for any.
int DataLengthOf(uint8_t type) {
  switch (type) {
    case kData:
      return -1;
    case kEndOfFile:
      return 0;
    case kExtendedSegment:
    case kExtendedLinear:
      return 2;
    default:
      return 4;
  }
}

// The record's bytes (count first, checksum last) checked for form: syntax, length, checksum
// and type.
ImageProblem CheckRecord(std::string_view record, std::vector<uint8_t>& bytes) {
  if (record.empty() || record.front() != ':' || !DecodeHexPairs(record.substr(1), bytes)) {
    return ImageProblem{.kind = ImageProblemKind::kBadSyntax};
  }
  if (bytes.size() < kFramingBytes || bytes.size() < bytes[0] + kFramingBytes) {
    return ImageProblem{.kind = ImageProblemKind::kTruncated};
  }
  if (bytes.size() > bytes[0] + kFramingBytes) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordLength};
  }
  if (ByteSum(bytes) != 0) {
    const std::span<const uint8_t> covered(bytes.data(), bytes.size() - 1);
    return ImageProblem{.kind = ImageProblemKind::kBadChecksum,
                        .expected = static_cast<uint8_t>(0x100 - ByteSum(covered)),
                        .found = bytes.back()};
  }
  const uint8_t type = bytes[3];
  if (type > kStartLinear) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordType, .found = type};
  }
  if (const int length = DataLengthOf(type); length >= 0 && bytes[0] != length) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordLength, .found = type};
  }
  return {};
}

}  // namespace

bool IsIntelHexRecord(std::string_view record, bool mayContinue) {
  std::vector<uint8_t> bytes;
  const std::string_view digits = record.substr(record.empty() ? 0 : 1);
  if (!mayContinue || record.empty() || record.front() != ':' || !AllHexDigits(digits) ||
      digits.size() < 8 || digits.size() >= 2 * (size_t{FirstByte(digits)} + kFramingBytes)) {
    return !CheckRecord(record, bytes);
  }
  return FirstByte(digits.substr(6)) <= kStartLinear;  // cut short, its type known
}

// Under a linear base (04) a record's addresses run on past a 64 KiB boundary; under a segment
// base (02) its offset wraps to 0 within the segment, as the 8086 addressed it.
ImageProblem IntelHexReader::AddData(uint32_t offset, std::span<const uint8_t> data) {
  const size_t beforeWrap =
      segmented_ ? std::min<size_t>(data.size(), 0x10000 - offset) : data.size();
  if (ImageProblem problem = assembly_.Add(uint64_t{base_} + offset, data.first(beforeWrap))) {
    return problem;
  }
  return beforeWrap == data.size() ? ImageProblem{}
                                   : assembly_.Add(base_, data.subspan(beforeWrap));
}

ImageProblem IntelHexReader::Record(std::string_view record) {
  if (ended_) {
    return ImageProblem{.kind = ImageProblemKind::kDataAfterEnd};
  }
  if (ImageProblem problem = CheckRecord(record, bytes_)) {
    return problem;
  }
  const std::span<const uint8_t> data(bytes_.data() + 4, bytes_[0]);
  const uint32_t offset = BigEndian({bytes_.data() + 1, 2});
  switch (bytes_[3]) {
    case kData:
      return AddData(offset, data);
    case kEndOfFile:
      ended_ = true;
      return {};
    case kExtendedSegment:
      base_ = BigEndian(data) << 4;
      segmented_ = true;
      return {};
    case kExtendedLinear:
      base_ = BigEndian(data) << 16;
      segmented_ = false;
      return {};
    case kStartSegment:
      assembly_.SetEntryPoint((BigEndian(data.first(2)) << 4) + BigEndian(data.subspan(2)));
      return {};
    default:
      assembly_.SetEntryPoint(BigEndian(data));
      return {};
  }
}

ImageProblem IntelHexReader::End() {
  return ended_ ? ImageProblem{} : ImageProblem{.kind = ImageProblemKind::kMissingEnd};
}

}  // namespace tarvok
