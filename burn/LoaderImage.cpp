#include "burn/LoaderImage.h"

#include <cstring>
#include <new>

namespace tarvok {

uint32_t CreateLoaderImage(std::unique_ptr<LoaderImage>* out) {
  if (out == nullptr) {
    return kMissingArgument;
  }
  out->reset(new (std::nothrow) LoaderImage());
  return *out ? 0 : kNoMemory;
}

void DestroyLoaderImage(std::unique_ptr<LoaderImage> loader) {
  loader.reset();
}

uint32_t LoaderImage::LoadEmbedded(const uint8_t* source, uint32_t length) {
  if (source == nullptr) {
    return kMissingArgument;
  }
  name = "BE";
  address = 0;
  if (length == 0) {
    return kContentsUnavailable;
  }
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
  if (!copy) {
    return kContentsUnavailable;
  }
  std::memcpy(copy.get(), source, length);
  data = std::move(copy);
  size = length;
  return 0;
}

uint32_t LoaderImage::Validate(LoaderView* view) const {
  if (!name.empty() && data && size > 0) {
    return 0;
  }
  Export(view);
  return kNotValid;
}

uint32_t LoaderImage::Export(LoaderView* view) const {
  if (view == nullptr) {
    return kMissingArgument;
  }
  CopyTruncated(name, view->name, sizeof(view->name));
  view->data = data.get();
  view->size = size;
  return 0;
}

}  // namespace tarvok
