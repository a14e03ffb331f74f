// The module's images: an image file read once, as a burn writes it, with what a rig checks
// about it (its form, regions, CRC-32 and SHA-256) and the unit numbers a station writes into
// it.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>

#include "burn/FlashImage.h"

namespace tarvok::python {

// A file system path as Python gives it (str, bytes or os.PathLike), as UTF-8; TypeError for
// anything else.
std::string PathOf(const pybind11::handle& path);

class Image {
 public:
  explicit Image(std::shared_ptr<const FlashImage> flash) : flash_(std::move(flash)) {}
  // Reads the file at `path`; FileNotFoundError, PermissionError or ValueError with the
  // problem's words when it cannot be burned.
  static Image Read(const std::string& path, uint32_t flashBase);

  const std::shared_ptr<const FlashImage>& Flash() const { return flash_; }
  uint32_t Crc32() const;
  std::string Sha256() const;
  // A copy with `number` written at `offset` as `encoding` ("le32", "be32", "dec:W") says.
  Image WithUnitNumber(uint32_t offset, uint64_t number, const std::string& encoding) const;

 private:
  std::shared_ptr<const FlashImage> flash_;
};

void BindImage(pybind11::module_& module);

}  // namespace tarvok::python
