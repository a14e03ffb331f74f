#include "burn/ImageFile.h"

#include <memory>

namespace tarvok {

ImageFormat DetectImageFormat(std::span<const uint8_t> /*head*/) {
  return ImageFormat::kBinary;
}

ImageProblem DecodeImage(std::span<const uint8_t> file, const ImageReadOptions& options,
                         std::vector<uint8_t>& flash, ImageLayout& layout) {
  if (file.size() < 2) {
    return ImageProblem{.kind = ImageProblemKind::kTooSmall};
  }
  if (file.size() - 1 > kHighestFlashAddress) {
    return ImageProblem{.kind = ImageProblemKind::kTooLarge};
  }
  flash.assign(file.begin(), file.end());
  layout = ImageLayout{.flashBase = options.flashBase,
                       .regions = {ImageRegion{0, static_cast<uint32_t>(file.size())}}};
  return {};
}

ImageProblem ReadImage(const std::string& path, const ImageReadOptions& options,
                       FlashImage& image) {
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 0;
  uint32_t modifiedTime = 0;
  if (const uint32_t code = ReadWholeFile(path.c_str(), &data, &size, &modifiedTime);
      code != kFileRead) {
    return ImageProblem{.kind = ImageProblemKind::kUnreadable, .fileCode = code};
  }
  auto flash = std::make_shared<std::vector<uint8_t>>();
  ImageLayout layout;
  if (ImageProblem problem = DecodeImage({data.get(), size}, options, *flash, layout)) {
    return problem;
  }
  image.path = path;
  image.size = static_cast<uint32_t>(flash->size());
  image.data = std::shared_ptr<const uint8_t[]>(flash, flash->data());
  image.endAddress = image.startAddress + image.size - 1;
  image.modifiedTime = modifiedTime;
  image.layout = std::move(layout);
  return {};
}

}  // namespace tarvok
