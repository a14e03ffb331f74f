#include "python/ModuleImage.h"

#include <pybind11/stl.h>

#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "app/ImageText.h"
#include "burn/Crc32.h"
#include "burn/ImageFile.h"
#include "station/platform/Sha256.h"
#include "station/records/UnitNumber.h"

namespace py = pybind11;

namespace tarvok::python {
namespace {

const char* FormatWord(ImageFormat format) {
  switch (format) {
    case ImageFormat::kIntelHex:
      return "ihex";
    case ImageFormat::kSRecord:
      return "srec";
    case ImageFormat::kElf32:
      return "elf32";
    case ImageFormat::kBinary:
      break;
  }
  return "binary";
}

// The exception a problem with the image file at `path` raises: a file that is not there or
// cannot be opened is the system's error, anything in its content a ValueError.
[[noreturn]] void RaiseImageProblem(const std::string& path, const ImageProblem& problem) {
  const std::string text = "image " + path + " " + ImageProblemText(problem);
  PyObject* type = PyExc_ValueError;
  if (problem.kind == ImageProblemKind::kUnreadable && problem.fileCode == kFileCannotOpen) {
    std::error_code error;
    type = std::filesystem::exists(path, error) ? PyExc_PermissionError : PyExc_FileNotFoundError;
  }
  PyErr_SetString(type, text.c_str());
  throw py::error_already_set();
}

py::list RegionsOf(const ImageLayout& layout) {
  py::list regions;
  for (const ImageRegion& region : layout.regions) {
    regions.append(py::make_tuple(region.address, region.length));
  }
  return regions;
}

std::optional<uint32_t> EntryPointOf(const ImageLayout& layout) {
  return layout.hasEntryPoint ? std::optional<uint32_t>(layout.entryPoint) : std::nullopt;
}

std::string ImageRepr(const Image& image) {
  const FlashImage& flash = *image.Flash();
  return "<tarvok.Image " + py::repr(py::str(flash.path)).cast<std::string>() + " " +
         FormatWord(flash.layout.format) + ", " + std::to_string(flash.size) + " bytes, " +
         std::to_string(flash.layout.regions.size()) + " region(s)>";
}

}  // namespace

std::string PathOf(const py::handle& path) {
  // os.fsdecode takes exactly what open() takes, and raises TypeError for anything else.
  return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

Image Image::Read(const std::string& path, uint32_t flashBase) {
  auto flash = std::make_shared<FlashImage>();
  ImageProblem problem;
  {
    const py::gil_scoped_release release;  // a large text image takes a while to decode
    problem = ReadImage(path, ImageReadOptions{.flashBase = flashBase}, *flash);
  }
  if (problem) {
    RaiseImageProblem(path, problem);
  }
  return Image(std::move(flash));
}

uint32_t Image::Crc32() const {
  return tarvok::Crc32(flash_->data.get(), flash_->size);
}

std::string Image::Sha256() const {
  return Sha256Hex(flash_->data.get(), flash_->size);
}

Image Image::WithUnitNumber(uint32_t offset, uint64_t number, const std::string& encoding) const {
  UnitNumberPlan plan;
  if (!ParseUnitEncoding(encoding, plan)) {
    throw py::value_error("unit number encoding '" + encoding +
                          "' is none of le32, be32 or dec:W (W digits)");
  }
  plan.offset = offset;
  plan.first = number;
  if (const std::string problem = ProblemWithUnitPlan(plan, flash_->size); !problem.empty()) {
    throw py::value_error("unit number " + std::to_string(number) + ": " + problem);
  }
  auto bytes =
      std::make_shared<std::vector<uint8_t>>(flash_->data.get(), flash_->data.get() + flash_->size);
  WriteUnitNumber(plan, number, bytes->data());
  auto flash = std::make_shared<FlashImage>(*flash_);
  flash->data = std::shared_ptr<const uint8_t[]>(bytes, bytes->data());
  return Image(std::move(flash));
}

void BindImage(py::module_& module) {
  py::class_<Image>(module, "Image", R"(An image file read as a burn writes it.

The form (raw binary, Intel HEX, Motorola S-record or ELF32) comes from the file's content.
The bytes burned start at flash address 0; gaps between the file's regions are filled with
the flash's erased value 0xFF.)")
      .def(py::init([](const py::handle& path, uint32_t flashBase) {
             return Image::Read(PathOf(path), flashBase);
           }),
           py::arg("path"), py::arg("flash_base") = 0,
           R"(Reads the image file at `path` (str or os.PathLike).

`flash_base` is the bus address of flash address 0, taken off the addresses a HEX, S-record
or ELF file gives. Raises FileNotFoundError when there is no such file, and ValueError with
what is wrong when the file cannot be burned.)")
      .def_property_readonly(
          "path", [](const Image& image) { return image.Flash()->path; }, "The file read.")
      .def_property_readonly(
          "format", [](const Image& image) { return FormatWord(image.Flash()->layout.format); },
          "The file's form: 'binary', 'ihex', 'srec' or 'elf32'.")
      .def_property_readonly(
          "size", [](const Image& image) { return image.Flash()->size; },
          "How many bytes are burned, from flash address 0.")
      .def_property_readonly(
          "flash_base", [](const Image& image) { return image.Flash()->layout.flashBase; },
          "The bus address of flash address 0 the file was read with.")
      .def_property_readonly(
          "regions", [](const Image& image) { return RegionsOf(image.Flash()->layout); },
          "The stretches the file places in flash, as (flash address, length), in address "
          "order.")
      .def_property_readonly(
          "filled_bytes", [](const Image& image) { return image.Flash()->layout.filledBytes; },
          "Bytes of 0xFF burned in the gaps between regions (and before the first).")
      .def_property_readonly(
          "entry_point", [](const Image& image) { return EntryPointOf(image.Flash()->layout); },
          "The entry point the file names (before the flash base is taken off), or None.")
      .def_property_readonly("crc32", &Image::Crc32,
                             "CRC-32 (zlib's) of the bytes burned; a read-back compares it.")
      .def_property_readonly("sha256", &Image::Sha256,
                             "SHA-256 of the bytes burned, 64 lower-case hex digits.")
      .def(
          "bytes",
          [](const Image& image) {
            const FlashImage& flash = *image.Flash();
            return py::bytes(reinterpret_cast<const char*>(flash.data.get()), flash.size);
          },
          "The bytes burned, from flash address 0.")
      .def("with_unit_number", &Image::WithUnitNumber, py::arg("offset"), py::arg("number"),
           py::arg("encoding") = "le32",
           R"(A new Image with the unit number `number` written at `offset`, as a station writes it.

`encoding` is 'le32' or 'be32' (4 bytes) or 'dec:W' (W ASCII digits, zero-padded).
Raises ValueError when the field does not fit the image or the number does not fit the field.)")
      .def("__repr__", &ImageRepr);
}

}  // namespace tarvok::python
