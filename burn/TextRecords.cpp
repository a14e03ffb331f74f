#include "burn/TextRecords.h"

#include <algorithm>

namespace tarvok {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) {
    line.remove_prefix(1);
  }
  while (!line.empty() && IsBlank(line.back())) {
    line.remove_suffix(1);
  }
  return line;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

ImageProblem LineSplitter::Line(std::string_view line, bool tooLong) {
  ++line_;
  const uint64_t start = offset_;
  offset_ += line.size() + 1;
  const std::string_view record = Trimmed(line);
  if (record.empty() && !tooLong) {
    return {};
  }
  ImageProblem problem = tooLong || line.size() > kLongestRecordLine
                             ? ImageProblem{.kind = ImageProblemKind::kBadRecordLength}
                             : sink_.Record(record);
  if (problem) {
    problem.format = format_;
    problem.line = line_;
    problem.offset = start;
  }
  return problem;
}

ImageProblem LineSplitter::Feed(std::span<const uint8_t> chunk) {
  const auto* text = reinterpret_cast<const char*>(chunk.data());
  std::string_view rest(text, chunk.size());
  while (!rest.empty()) {
    const size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) {
      // Kept for the next chunk, but never more than the longest record: a longer line is
      // refused without holding it.
      if (partial_.size() + rest.size() > kLongestRecordLine) {
        return Line(std::string_view(), true);
      }
      partial_.append(rest);
      return {};
    }
    ImageProblem problem;
    if (partial_.empty()) {
      problem = Line(rest.substr(0, newline));
    } else {
      partial_.append(rest.substr(0, newline));
      problem = Line(partial_);
      partial_.clear();
    }
    if (problem) {
      return problem;
    }
    rest.remove_prefix(newline + 1);
  }
  return {};
}

ImageProblem LineSplitter::Finish() {
  if (!partial_.empty()) {
    const std::string last = std::move(partial_);
    partial_.clear();
    if (ImageProblem problem = Line(last)) {
      return problem;
    }
  }
  ImageProblem problem = sink_.End();
  problem.format = format_;
  return problem;
}

bool DecodeHexPairs(std::string_view digits, std::vector<uint8_t>& bytes) {
  if (digits.size() % 2 != 0) {
    return false;
  }
  bytes.clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexValue(digits[i]);
    const int low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

bool AllHexDigits(std::string_view digits) {
  return std::all_of(digits.begin(), digits.end(), [](char c) { return HexValue(c) >= 0; });
}

uint8_t FirstByte(std::string_view digits) {
  return static_cast<uint8_t>(HexValue(digits[0]) * 16 + HexValue(digits[1]));
}

uint8_t ByteSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (const uint8_t byte : bytes) {
    sum += byte;
  }
  return static_cast<uint8_t>(sum);
}

uint32_t BigEndian(std::span<const uint8_t> bytes) {
  uint32_t value = 0;
  for (const uint8_t byte : bytes) {
    value = (value << 8) | byte;
  }
  return value;
}

}  // namespace tarvok
