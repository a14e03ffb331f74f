#include "cli/ImageCommand.h"

#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "app/ImageText.h"
#include "app/ReadBackWords.h"
#include "burn/Crc32.h"
#include "burn/ImageFile.h"
#include "burn/NumberWord.h"
#include "cli/BurnCommand.h"
#include "station/platform/Sha256.h"

namespace tarvok::cli {

namespace {

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

nlohmann::json ImageJson(const FlashImage& image, uint32_t crc, const std::string& sha256) {
  const ImageLayout& layout = image.layout;
  nlohmann::json regions = nlohmann::json::array();
  for (const ImageRegion& region : layout.regions) {
    regions.push_back({{"address", region.address}, {"length", region.length}});
  }
  nlohmann::json report = {{"path", image.path},
                           {"format", ImageFormatName(layout.format)},
                           {"flash_base", layout.flashBase},
                           {"regions", regions},
                           {"bytes", image.size},
                           {"filled_bytes", layout.filledBytes},
                           {"crc32", Crc32Text(crc)},
                           {"sha256", sha256}};
  report["entry_point"] = layout.hasEntryPoint ? nlohmann::json(layout.entryPoint) : nullptr;
  return report;
}

}  // namespace

int RunImageCommand(const ImageOptions& options, std::ostream& out, std::ostream& err) {
  const ImageReadOptions read{
      .flashBase =
          static_cast<uint32_t>(ParseNumberWord(options.flashBase, true, UINT32_MAX).value_or(0))};
  FlashImage image;
  if (const ImageProblem problem = ReadImage(options.image, read, image)) {
    err << "tarvok: image " << options.image << " " << ImageProblemText(problem) << "\n";
    return kExitBadInput;
  }
  const uint32_t crc = Crc32(image.data.get(), image.size);
  const std::string sha256 = Sha256Hex(image.data.get(), image.size);
  if (options.json) {
    out << ImageJson(image, crc, sha256).dump() << "\n";
    return kExitSuccess;
  }
  const ImageLayout& layout = image.layout;
  out << image.path << ": " << ImageFormatName(layout.format);
  if (layout.hasEntryPoint) {
    out << ", entry point " << Hex32(layout.entryPoint);
  }
  out << "\n" << ImageRegionMapText(layout);
  out << ImageExtentText(image.size, layout);
  out << "\nCRC-32  " << Crc32Text(crc) << "\nSHA-256 " << sha256 << "\n";
  return kExitSuccess;
}

}  // namespace tarvok::cli
