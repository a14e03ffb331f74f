#include "burn/Elf32.h"

#include <algorithm>

namespace tarvok {

namespace {

constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kClass32 = 1;
constexpr uint8_t kLittleEndian = 1;
constexpr uint32_t kLoadable = 1;  // PT_LOAD
constexpr size_t kHeaderBytes = 52;
constexpr size_t kProgramHeaderBytes = 32;

uint32_t Word(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
         uint32_t{bytes[at + 3]} << 24;
}

uint16_t Half(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

ImageProblem Problem(ImageProblemKind kind, uint64_t offset = 0, uint32_t segment = 0) {
  return ImageProblem{
      .kind = kind, .format = ImageFormat::kElf32, .offset = offset, .segment = segment};
}

}  // namespace

bool HasElfMagic(std::span<const uint8_t> head) {
  return head.size() >= sizeof kMagic && std::equal(kMagic, kMagic + sizeof kMagic, head.data());
}

ImageProblem ReadElf32(std::span<const uint8_t> file, ImageAssembly& assembly) {
  if (file.size() < 6 || !HasElfMagic(file)) {
    return Problem(ImageProblemKind::kBadElfHeader);
  }
  if (file[4] != kClass32 || file[5] != kLittleEndian) {
    return Problem(ImageProblemKind::kNotElf32, 4);
  }
  if (file.size() < kHeaderBytes) {
    return Problem(ImageProblemKind::kBadElfHeader, file.size());
  }
  const uint32_t tableOffset = Word(file, 28);  // e_phoff
  const uint16_t entrySize = Half(file, 42);    // e_phentsize
  const uint16_t entries = Half(file, 44);      // e_phnum
  // 0xFFFF would say the count is elsewhere (in a section header): no linker for a chip this
  // size writes that many.
  if (entries == 0xFFFF || (entries > 0 && entrySize < kProgramHeaderBytes)) {
    return Problem(ImageProblemKind::kBadElfHeader, 42);
  }
  if (uint64_t{tableOffset} + uint64_t{entries} * entrySize > file.size()) {
    return Problem(ImageProblemKind::kBadElfHeader, tableOffset);
  }
  for (uint32_t index = 0; index < entries; ++index) {
    const size_t at = tableOffset + size_t{index} * entrySize;
    const uint32_t offset = Word(file, at + 4);    // p_offset
    const uint32_t address = Word(file, at + 12);  // p_paddr: where the bytes are loaded from
    const uint32_t fileBytes = Word(file, at + 16);
    // p_memsz beyond p_filesz is zero-filled RAM (.bss) at run time, never flash content:
    // only the file's bytes are burned, and a segment without any is skipped.
    if (Word(file, at) != kLoadable || fileBytes == 0) {
      continue;
    }
    if (uint64_t{offset} + fileBytes > file.size()) {
      return Problem(ImageProblemKind::kSegmentOutsideFile, offset, index);
    }
    if (ImageProblem problem = assembly.Add(address, file.subspan(offset, fileBytes))) {
      problem.format = ImageFormat::kElf32;
      problem.offset = offset;
      problem.segment = index;
      return problem;
    }
  }
  if (const uint32_t entry = Word(file, 24); entry != 0) {  // e_entry
    assembly.SetEntryPoint(entry);
  }
  return {};
}

}  // namespace tarvok
