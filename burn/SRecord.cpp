#include "burn/SRecord.h"

namespace tarvok {

namespace {

// The address (or count) length of each type; 0 for S4, which no form defines.
constexpr uint8_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool IsData(int type) {
  return type >= 1 && type <= 3;
}
bool IsCount(int type) {
  return type == 5 || type == 6;
}
bool IsEnd(int type) {
  return type >= 7;
}

// The record's type, and its bytes (count first, checksum last) checked for form.
ImageProblem CheckRecord(std::string_view record, int& type, std::vector<uint8_t>& bytes) {
  if (record.size() < 2 || record[0] != 'S' || record[1] < '0' || record[1] > '9' ||
      !DecodeHexPairs(record.substr(2), bytes)) {
    return ImageProblem{.kind = ImageProblemKind::kBadSyntax};
  }
  type = record[1] - '0';
  if (bytes.empty() || bytes.size() < size_t{bytes[0]} + 1) {
    return ImageProblem{.kind = ImageProblemKind::kTruncated};
  }
  if (bytes.size() > size_t{bytes[0]} + 1) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordLength};
  }
  const std::span<const uint8_t> covered(bytes.data(), bytes.size() - 1);
  const auto expected = static_cast<uint8_t>(~ByteSum(covered));
  if (bytes.back() != expected) {
    return ImageProblem{
        .kind = ImageProblemKind::kBadChecksum, .expected = expected, .found = bytes.back()};
  }
  const uint8_t addressBytes = kAddressBytes[type];
  if (addressBytes == 0) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordType, .found = uint32_t(type)};
  }
  // Data and header records carry bytes after the address; the others nothing.
  const bool carriesData = IsData(type) || type == 0;
  if (bytes[0] < addressBytes + 1 || (!carriesData && bytes[0] != addressBytes + 1)) {
    return ImageProblem{.kind = ImageProblemKind::kBadRecordLength, .found = uint32_t(type)};
  }
  return {};
}

}  // namespace

bool IsSRecord(std::string_view record, bool mayContinue) {
  int type = 0;
  std::vector<uint8_t> bytes;
  const std::string_view digits = record.substr(std::min<size_t>(record.size(), 2));
  if (!mayContinue || record.size() < 2 || record[0] != 'S' || record[1] < '0' || record[1] > '9' ||
      record[1] == '4' || !AllHexDigits(digits) || digits.size() < 2 ||
      digits.size() >= 2 * (size_t{FirstByte(digits)} + 1)) {
    return !CheckRecord(record, type, bytes);
  }
  return true;  // cut short, and so far an S-record
}

ImageProblem SRecordReader::Record(std::string_view record) {
  if (ended_) {
    return ImageProblem{.kind = ImageProblemKind::kDataAfterEnd};
  }
  int type = 0;
  if (ImageProblem problem = CheckRecord(record, type, bytes_)) {
    return problem;
  }
  const uint8_t addressBytes = kAddressBytes[type];
  const uint32_t address = BigEndian({bytes_.data() + 1, addressBytes});
  countedLast_ = IsCount(type);
  if (IsData(type)) {
    ++dataRecords_;
    const std::span<const uint8_t> data(bytes_.data() + 1 + addressBytes,
                                        bytes_.size() - 2 - addressBytes);
    return assembly_.Add(address, data);
  }
  if (IsCount(type) && address != dataRecords_) {
    return ImageProblem{
        .kind = ImageProblemKind::kBadCount, .expected = dataRecords_, .found = address};
  }
  if (IsEnd(type)) {
    ended_ = true;
    assembly_.SetEntryPoint(address);
  }
  return {};
}

// A file must close with an end record or, as srec_cat writes one without a start address, a
// count record: a file cut at a line's end would otherwise burn in part and look whole.
ImageProblem SRecordReader::End() {
  return ended_ || countedLast_ ? ImageProblem{}
                                : ImageProblem{.kind = ImageProblemKind::kMissingEnd};
}

}  // namespace tarvok
