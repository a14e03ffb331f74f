// The fuzzer's bytes as a stream of small decisions. Once the bytes run out every decision
// takes its fallback, so any input, even an empty one, scripts a whole run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvok::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Exhausted() const { return position_ >= size_; }
  // Every byte not yet taken, as one block (for a target that reads a whole file).
  const uint8_t* Rest(size_t& size) {
    const size_t start = position_ < size_ ? position_ : size_;
    position_ = size_;
    size = size_ - start;
    return data_ + start;
  }
  uint8_t Byte(uint8_t fallback = 0) { return Exhausted() ? fallback : data_[position_++]; }
  // A value in [0, limit), from one or two bytes.
  uint32_t Below(uint32_t limit, uint32_t fallback = 0) {
    if (Exhausted() || limit == 0) {
      return fallback;
    }
    uint32_t value = Byte();
    if (limit > 256) {
      value = (value << 8) | Byte();
    }
    return value % limit;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace tarvok::fuzz
