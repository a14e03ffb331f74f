// The image forms against any file: whatever the bytes, decoding ends with either a problem
// (said in words, the outputs untouched) or a stream and layout that agree with each other.
// The input's first byte (taken by the shared entry point) is spent; the second picks the
// flash base; the rest is the file.
#include <algorithm>
#include <span>
#include <vector>

#include "app/ImageText.h"
#include "burn/ImageFile.h"
#include "tests/fuzz/FuzzTarget.h"
#include "tests/fuzz/Require.h"

namespace tarvok::fuzz {

namespace {

void CheckLayout(const std::vector<uint8_t>& flash, const ImageLayout& layout, uint32_t base) {
  Require(flash.size() >= 2, "an image has at least 2 bytes");
  Require(flash.size() - 1 <= kHighestFlashAddress, "an image ends within the flash");
  Require(layout.flashBase == base, "the layout keeps the base");
  Require(!layout.regions.empty(), "an image has a region");
  uint64_t next = 0;
  uint64_t placed = 0;
  for (const ImageRegion& region : layout.regions) {
    Require(region.length > 0, "no empty region");
    Require(region.address >= next, "regions in order, none overlapping");
    Require(layout.format == ImageFormat::kBinary || region.address > next || next == 0,
            "adjacent regions are merged");
    next = uint64_t{region.address} + region.length;
    placed += region.length;
  }
  Require(next == flash.size(), "the last region ends the stream");
  Require(layout.filledBytes == flash.size() - placed, "the fill is what no region covers");
  // Every gap is erased flash (looked at in small images only, which are most).
  if (flash.size() > 1024 * 1024) {
    return;
  }
  uint64_t at = 0;
  for (const ImageRegion& region : layout.regions) {
    for (; at < region.address; ++at) {
      Require(flash[at] == kErasedFlashByte, "gaps are filled with the erased value");
    }
    at = uint64_t{region.address} + region.length;
  }
}

}  // namespace

void RunTarget(FuzzInput& input, WhenScriptEnds /*end*/) {
  const uint32_t base = (input.Byte() & 1) != 0 ? kFlashBusAddress : 0;
  size_t size = 0;
  const uint8_t* data = input.Rest(size);
  const std::span<const uint8_t> file(data, size);

  std::vector<uint8_t> flash = {0x5A};
  ImageLayout layout{.format = ImageFormat::kElf32, .flashBase = 7, .regions = {}};
  const ImageProblem problem = DecodeImage(file, {.flashBase = base}, flash, layout);
  if (problem) {
    Require(!ImageProblemText(problem).empty(), "every problem has words");
    Require(flash.size() == 1 && flash[0] == 0x5A && layout.flashBase == 7,
            "the outputs are untouched on a problem");
    return;
  }
  Require(layout.format == DetectImageFormat(file.first(std::min<size_t>(size, 1024))),
          "the layout names the detected form");
  if (layout.format == ImageFormat::kBinary) {
    Require(std::equal(file.begin(), file.end(), flash.begin(), flash.end()),
            "a raw binary is burned as it is");
  }
  CheckLayout(flash, layout, base);
  ImageFillText(layout);
  ImageRegionMapText(layout);
}

}  // namespace tarvok::fuzz
