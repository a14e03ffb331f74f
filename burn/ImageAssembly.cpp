#include "burn/ImageAssembly.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace tarvok {

ImageProblem ImageAssembly::Add(uint64_t fileAddress, std::span<const uint8_t> bytes) {
  if (bytes.empty()) {
    return {};
  }
  ImageProblem problem{.address = fileAddress, .flashBase = flashBase_};
  if (fileAddress < flashBase_) {
    problem.kind = ImageProblemKind::kBelowFlashBase;
    return problem;
  }
  const uint64_t start = fileAddress - flashBase_;
  const uint64_t last = start + bytes.size() - 1;
  if (last > kHighestFlashAddress) {
    problem.kind = ImageProblemKind::kOutsideFlash;
    problem.endAddress = fileAddress + bytes.size() - 1;
    return problem;
  }
  const auto begin = static_cast<uint32_t>(start);
  const auto end = static_cast<uint32_t>(last + 1);
  // The first region starting after `begin`, and the one before it: only these two can meet
  // the new bytes, since the regions never overlap one another.
  auto next = regions_.upper_bound(begin);
  if (next != regions_.end() && next->first < end) {
    problem.kind = ImageProblemKind::kOverlap;
    problem.address = fileAddress + (next->first - begin);  // the first address both write
    problem.otherAddress = uint64_t{next->first} + flashBase_;
    return problem;
  }
  auto previous = next == regions_.begin() ? regions_.end() : std::prev(next);
  if (previous != regions_.end() && previous->second > begin) {
    problem.kind = ImageProblemKind::kOverlap;
    problem.otherAddress = uint64_t{previous->first} + flashBase_;
    return problem;
  }
  Copy(begin, bytes);
  placedBytes_ += bytes.size();
  uint32_t mergedEnd = end;
  if (next != regions_.end() && next->first == end) {
    mergedEnd = next->second;
    regions_.erase(next);
  }
  if (previous != regions_.end() && previous->second == begin) {
    previous->second = mergedEnd;
  } else {
    regions_.emplace(begin, mergedEnd);
  }
  return {};
}

void ImageAssembly::Copy(uint32_t address, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const uint32_t index = address >> kPageBits;
    const uint32_t within = address & (kPageBytes - 1);
    const auto take = std::min<size_t>(bytes.size(), kPageBytes - within);
    auto& page = pages_[index];
    if (!page) {
      page = std::make_unique<uint8_t[]>(kPageBytes);
      std::memset(page.get(), kErasedFlashByte, kPageBytes);
    }
    std::memcpy(page.get() + within, bytes.data(), take);
    bytes = bytes.subspan(take);
    address += static_cast<uint32_t>(take);
  }
}

ImageProblem ImageAssembly::Finish(ImageFormat format, std::vector<uint8_t>& flash,
                                   ImageLayout& layout) {
  if (regions_.empty()) {
    return ImageProblem{.kind = ImageProblemKind::kNoData, .format = format};
  }
  const uint32_t end = regions_.rbegin()->second;
  if (end < 2) {
    return ImageProblem{.kind = ImageProblemKind::kTooSmall, .format = format};
  }
  ImageLayout result{.format = format,
                     .flashBase = flashBase_,
                     .regions = {},
                     .filledBytes = static_cast<uint32_t>(end - placedBytes_),
                     .hasEntryPoint = hasEntryPoint_,
                     .entryPoint = entryPoint_};
  result.regions.reserve(regions_.size());
  for (const auto& [start, stop] : regions_) {
    result.regions.push_back(ImageRegion{start, stop - start});
  }
  // One allocation of the final size; each page is released once it is copied, so the peak
  // stays near twice the image.
  std::vector<uint8_t> bytes(end, kErasedFlashByte);
  for (uint32_t index = 0; index < kPageCount; ++index) {
    if (auto page = std::move(pages_[index])) {
      const size_t start = size_t{index} << kPageBits;
      const size_t take = std::min<size_t>(kPageBytes, end - start);
      std::memcpy(bytes.data() + start, page.get(), take);
    }
  }
  regions_.clear();
  flash = std::move(bytes);
  layout = std::move(result);
  return {};
}

}  // namespace tarvok
