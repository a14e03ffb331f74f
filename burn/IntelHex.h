// Intel HEX: ":" then byte count, 16-bit address, type, data and checksum as hex digits.
// Types 00 data, 01 end of file (required), 02 extended segment address (base = value x 16),
// 03 start segment address, 04 extended linear address (base = value << 16), 05 start linear
// address.
#pragma once

#include <string_view>
#include <vector>

#include "burn/ImageAssembly.h"
#include "burn/TextRecords.h"

namespace tarvok {

class IntelHexReader final : public RecordSink {
 public:
  explicit IntelHexReader(ImageAssembly& assembly) : assembly_(assembly) {}

  ImageProblem Record(std::string_view record) override;
  ImageProblem End() override;

 private:
  ImageAssembly& assembly_;
  std::vector<uint8_t> bytes_;
  ImageProblem AddData(uint32_t offset, std::span<const uint8_t> data);

  uint32_t base_ = 0;       // from the last 02 or 04 record
  bool segmented_ = false;  // the base came from an 02 record
  bool ended_ = false;
};

// Whether `record` (one line, blanks removed) is a well-formed HEX record. `mayContinue`: the
// line may run on past what is seen (a file's head); a start that could become one counts.
bool IsIntelHexRecord(std::string_view record, bool mayContinue);

}  // namespace tarvok
