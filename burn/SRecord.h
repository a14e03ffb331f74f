// Motorola S-record: "S", a type digit, then byte count, address, data and checksum (the
// ones' complement of the sum of count, address and data) as hex digits. S0 is a header
// (ignored); S1/S2/S3 data at 16/24/32-bit addresses; S5/S6 the number of data records so
// far; S7/S8/S9 the end, with the entry point. The end record is optional: objcopy writes
// one, but srec_cat leaves it out when it knows no entry point. After it, nothing may follow.
#pragma once

#include <string_view>
#include <vector>

#include "burn/ImageAssembly.h"
#include "burn/TextRecords.h"

namespace tarvok {

class SRecordReader final : public RecordSink {
 public:
  explicit SRecordReader(ImageAssembly& assembly) : assembly_(assembly) {}

  ImageProblem Record(std::string_view record) override;
  ImageProblem End() override;

 private:
  ImageAssembly& assembly_;
  std::vector<uint8_t> bytes_;
  uint32_t dataRecords_ = 0;
  bool ended_ = false;
  bool countedLast_ = false;  // a count record came after the last data record
};

// Whether `record` (one line, blanks removed) is a well-formed S-record. `mayContinue`: the
// line may run on past what is seen (a file's head); a start that could become one counts.
bool IsSRecord(std::string_view record, bool mayContinue);

}  // namespace tarvok
