// The image forms read by content: Intel HEX, S-record, ELF32 and raw binary, decoded into
// the bytes burned from flash address 0, and what goes wrong with each said in words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/ImageText.h"
#include "burn/ImageFile.h"
#include "tests/support/HexText.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

using Kind = ImageProblemKind;
using Bytes = std::vector<uint8_t>;
using testing::Hex;
using testing::HexDigits;
using testing::HexOf;
using testing::kHexEnd;

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// One S-record of type `type` (its address as wide as the type says) with its checksum.
std::string Srec(int type, uint32_t address, const Bytes& data) {
  constexpr size_t kWidths[10] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
  Bytes bytes = {static_cast<uint8_t>(kWidths[type] + data.size() + 1)};
  for (size_t at = kWidths[type]; at-- > 0;) {
    bytes.push_back(static_cast<uint8_t>(address >> (8 * at)));
  }
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (const uint8_t byte : bytes) {
    sum = static_cast<uint8_t>(sum + byte);
  }
  bytes.push_back(static_cast<uint8_t>(~sum));
  return "S" + std::to_string(type) + HexDigits(bytes) + "\n";
}

// A small ELF32 little-endian ARM file: the header, its program headers, then `payload` at
// kPayload.
struct ElfSegment {
  uint32_t type = 1;  // PT_LOAD
  uint32_t offset = 0;
  uint32_t vaddr = 0;
  uint32_t paddr = 0;
  uint32_t filesz = 0;
  uint32_t memsz = 0;
};
constexpr uint32_t kPayload = 0x100;

struct ElfHeader {
  uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
  uint16_t type = 2;      // ET_EXEC
  uint16_t machine = 40;  // EM_ARM
  uint32_t version = 1;
  uint32_t entry = 0;
  uint32_t phoff = 52;
  uint32_t shoff = 0;
  uint32_t flags = 0x05000200;
  uint16_t ehsize = 52;
  uint16_t phentsize = 32;
  uint16_t phnum = 0;
  uint16_t shentsize = 40;
  uint16_t shnum = 0;
  uint16_t shstrndx = 0;
};
static_assert(sizeof(ElfHeader) == 52);

Bytes Elf(const std::vector<ElfSegment>& segments, const Bytes& payload, ElfHeader header = {}) {
  if (header.phnum == 0) {
    header.phnum = static_cast<uint16_t>(segments.size());
  }
  Bytes file(kPayload + payload.size());
  std::memcpy(file.data(), &header, sizeof header);
  for (size_t index = 0; index < segments.size(); ++index) {
    const ElfSegment& s = segments[index];
    const uint32_t words[8] = {s.type, s.offset, s.vaddr, s.paddr, s.filesz, s.memsz, 5, 4};
    std::memcpy(file.data() + 52 + 32 * index, words, sizeof words);
  }
  std::copy(payload.begin(), payload.end(), file.begin() + kPayload);
  return file;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// Flash from address 0 as erased bytes with `runs` written into it.
Bytes Flash(const std::map<uint32_t, Bytes>& runs) {
  Bytes flash;
  for (const auto& [address, bytes] : runs) {
    flash.resize(std::max<size_t>(flash.size(), address + bytes.size()), 0xFF);
    std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
  }
  return flash;
}

const Bytes kA = {0x11, 0x22, 0x33, 0x44};
const Bytes kB = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4};
const Bytes kElfPayload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

struct DecodeCase {
  const char* name;
  Bytes file;
  uint32_t flashBase = 0;
  ImageFormat format = ImageFormat::kBinary;
  Kind problem = Kind::kNone;
  uint32_t line = 0;     // of the problem, text forms
  uint32_t segment = 0;  // of the problem, ELF
  uint64_t address = 0;  // of an address problem
  Bytes flash = {};      // the whole decoded stream
  std::vector<ImageRegion> regions = {};
  uint32_t filled = 0;
  int64_t entry = -1;  // -1: none
};

std::vector<DecodeCase> DecodeCases() {
  return {
      // Intel HEX.
      {.name = "hex extended linear address and start linear address",
       .file =
           Of(Hex(4, 0, {0x00, 0x01}) + Hex(0, 0x0010, kA) + Hex(5, 0, {0, 1, 0, 0x41}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .flash = Flash({{0x10010, kA}}),
       .regions = {{0x10010, 4}},
       .filled = 0x10010,
       .entry = 0x10041},
      {.name = "hex extended segment address is the value times 16",
       .file = Of(Hex(2, 0, {0x10, 0x00}) + Hex(0, 0x0002, kA) + Hex(3, 0, {0, 1, 0, 2}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .flash = Flash({{0x10002, kA}}),
       .regions = {{0x10002, 4}},
       .filled = 0x10002,
       .entry = 0x12},
      {.name = "hex adjacent records merge; gaps filled, out of order",
       .file = Of(Hex(0, 0x20, kB) + Hex(0, 4, kA) + Hex(0, 0, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .flash = Flash({{0, kA}, {4, kA}, {0x20, kB}}),
       .regions = {{0, 8}, {0x20, 5}},
       .filled = 0x18},
      {.name = "hex CRLF, lower case, blank lines after the end",
       .file = Of(":04000000a0b1c2d316\r\n:00000001ff\r\n\r\n\n  \n"),
       .format = ImageFormat::kIntelHex,
       .flash = {0xA0, 0xB1, 0xC2, 0xD3},
       .regions = {{0, 4}}},
      {.name = "hex at the flash's bus address with its base",
       .file = Of(Hex(4, 0, {0x10, 0x00}) + Hex(0, 0, kA) + kHexEnd),
       .flashBase = 0x10000000,
       .format = ImageFormat::kIntelHex,
       .flash = kA,
       .regions = {{0, 4}}},
      {.name = "hex segment base: a record wraps within its 64 KiB segment",
       .file = Of(Hex(2, 0, {0x10, 0x00}) + Hex(0, 0xFFFE, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .flash = Flash({{0x10000, {0x33, 0x44}}, {0x1FFFE, {0x11, 0x22}}}),
       .regions = {{0x10000, 2}, {0x1FFFE, 2}},
       .filled = 0x10000 + 0xFFFC},
      {.name = "hex a damaged character in its first record",
       .file = Of(":04000000112O334452\n" + Hex(0, 4, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadSyntax,
       .line = 1},
      {.name = "hex a blank inside its first record",
       .file = Of(":0400000011223344 52\n" + Hex(0, 4, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadSyntax,
       .line = 1},
      {.name = "hex a blank inside a record",
       .file = Of(Hex(0, 0, kA) + ":0400040011223344 4F\n"),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadSyntax,
       .line = 2},
      {.name = "hex checksum wrong on line 3",
       .file = Of(Hex(0, 0, kA) + "\n:0400040011223344D0\n" + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadChecksum,
       .line = 3},
      {.name = "hex record shorter than its count",
       .file = Of(Hex(0, 0, kA) + ":04000400112233CC\n" + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kTruncated,
       .line = 2},
      {.name = "hex file cut inside its last record",
       .file = Of(Hex(0, 0, kA) + ":0400040011"),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kTruncated,
       .line = 2},
      {.name = "hex without its end record",
       .file = Of(Hex(0, 0, kA)),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kMissingEnd},
      {.name = "hex data after the end record",
       .file = Of(Hex(0, 0, kA) + kHexEnd + Hex(0, 4, kA)),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kDataAfterEnd,
       .line = 3},
      {.name = "hex type 06",
       .file = Of(Hex(0, 0, kA) + Hex(6, 0, {}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadRecordType,
       .line = 2},
      {.name = "hex extended address of three bytes",
       .file = Of(Hex(0, 0, kA) + Hex(4, 0, {0, 0, 1}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadRecordLength,
       .line = 2},
      {.name = "hex two records write one address",
       .file = Of(Hex(0, 0x100, kA) + Hex(0, 0xFE, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kOverlap,
       .line = 2,
       .address = 0x100},
      {.name = "hex past the flash's 128 MiB",
       .file = Of(Hex(0, 0, kA) + Hex(4, 0, {0x08, 0x00}) + Hex(0, 0, kA) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kOutsideFlash,
       .line = 3,
       .address = 0x08000000},
      {.name = "hex below the flash base",
       .file = Of(Hex(0, 0, kA) + kHexEnd),
       .flashBase = 0x10000000,
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBelowFlashBase,
       .line = 1,
       .address = 0},
      {.name = "hex line longer than any record, not held whole",
       .file = Of(Hex(0, 0, kA) + ":" + std::string(5000, '0') + "\n" + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadRecordLength,
       .line = 2},
      {.name = "hex with no data",
       .file = Of(Hex(4, 0, {0, 1}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kNoData},
      {.name = "hex of one byte",
       .file = Of(Hex(0, 0, {0x5A}) + kHexEnd),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kTooSmall},
      // S-record.
      {.name = "srec S1/S2/S3 with a right count and an entry point",
       .file = Of(Srec(0, 0, Of("fw")) + Srec(1, 0x0000, kA) + Srec(2, 0x000004, kA) +
                  Srec(3, 0x00000010, kB) + Srec(5, 3, {}) + Srec(9, 0x0101, {})),
       .format = ImageFormat::kSRecord,
       .flash = Flash({{0, kA}, {4, kA}, {0x10, kB}}),
       .regions = {{0, 8}, {0x10, 5}},
       .filled = 8,
       .entry = 0x0101},
      {.name = "srec S6 count wrong",
       .file = Of(Srec(1, 0, kA) + Srec(1, 4, kA) + Srec(6, 3, {}) + Srec(9, 0, {})),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kBadCount,
       .line = 3},
      {.name = "srec S4",
       .file = Of(Srec(1, 0, kA) + Srec(4, 0, {}) + Srec(9, 0, {})),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kBadRecordType,
       .line = 2},
      {.name = "srec checksum wrong",
       .file = Of(Srec(1, 0, kA) + "S107000411223344FF\r\n" + Srec(9, 0, {})),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kBadChecksum,
       .line = 2},
      {.name = "srec without an end record, as srec_cat writes it",
       .file = Of(Srec(3, 0, kA) + Srec(3, 4, kA) + Srec(5, 2, {})),
       .format = ImageFormat::kSRecord,
       .flash = Flash({{0, kA}, {4, kA}}),
       .regions = {{0, 8}}},
      {.name = "srec cut at a line's end, before its count",
       .file = Of(Srec(3, 0, kA) + Srec(3, 4, kA)),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kMissingEnd},
      {.name = "srec data after the end",
       .file = Of(Srec(3, 0, kA) + Srec(7, 0, {}) + Srec(3, 4, kA)),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kDataAfterEnd,
       .line = 3},
      {.name = "srec S37 at the bus address with its base, CRLF",
       .file = Of("S30910000000112233443C\r\nS70510000000EA\r\n"),
       .flashBase = 0x10000000,
       .format = ImageFormat::kSRecord,
       .flash = kA,
       .regions = {{0, 4}},
       .entry = 0x10000000},
      {.name = "srec end record carrying data",
       .file = Of(Srec(1, 0, kA) + Srec(9, 0, {1})),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kBadRecordLength,
       .line = 2},
      // ELF32.
      {.name = "elf .data loaded from flash; .bss burns nothing; an empty segment skipped",
       .file = Elf(
           {{.offset = kPayload, .vaddr = 0x100, .paddr = 0x100, .filesz = 8, .memsz = 8},
            {.offset = kPayload + 8, .vaddr = 0x20000, .paddr = 0x108, .filesz = 4, .memsz = 0x400},
            {.offset = kPayload, .vaddr = 0x30000, .paddr = 0x30000, .filesz = 0, .memsz = 0x100},
            {.type = 6, .offset = 0, .vaddr = 0, .paddr = 0x40000, .filesz = 0x20}},
           kElfPayload, ElfHeader{.entry = 0x101}),
       .format = ImageFormat::kElf32,
       .flash = Flash({{0x100, Bytes(kElfPayload.begin(), kElfPayload.begin() + 12)}}),
       .regions = {{0x100, 12}},
       .filled = 0x100,
       .entry = 0x101},
      {.name = "elf segment past the file's end",
       .file = Elf({{.offset = kPayload, .filesz = 4},
                    {.offset = kPayload + 8, .paddr = 0x10, .filesz = 9}},
                   kElfPayload),
       .format = ImageFormat::kElf32,
       .problem = Kind::kSegmentOutsideFile,
       .segment = 1},
      {.name = "elf segment whose offset and size overflow 32 bits",
       .file = Elf({{.offset = 0xFFFFFFF0, .filesz = 0x20}}, kElfPayload),
       .format = ImageFormat::kElf32,
       .problem = Kind::kSegmentOutsideFile},
      {.name = "elf program headers of 16 bytes",
       .file = Elf({{.offset = kPayload, .filesz = 4}}, kElfPayload, ElfHeader{.phentsize = 16}),
       .format = ImageFormat::kElf32,
       .problem = Kind::kBadElfHeader},
      {.name = "elf program header table past the file's end",
       .file = Elf({}, kElfPayload, ElfHeader{.phnum = 20}),
       .format = ImageFormat::kElf32,
       .problem = Kind::kBadElfHeader},
      {.name = "elf cut inside its header",
       .file = Cut(Elf({}, {}), 40),
       .format = ImageFormat::kElf32,
       .problem = Kind::kBadElfHeader},
      {.name = "elf 64-bit",
       .file = Elf({}, kElfPayload, ElfHeader{.ident = {0x7F, 'E', 'L', 'F', 2, 1, 1}}),
       .format = ImageFormat::kElf32,
       .problem = Kind::kNotElf32},
      {.name = "elf segments overlapping",
       .file = Elf({{.offset = kPayload, .paddr = 0x10000000, .filesz = 8},
                    {.offset = kPayload, .paddr = 0x10000004, .filesz = 8}},
                   kElfPayload),
       .flashBase = 0x10000000,
       .format = ImageFormat::kElf32,
       .problem = Kind::kOverlap,
       .segment = 1,
       .address = 0x10000004},
      {.name = "elf without loadable bytes",
       .file = Elf({{.offset = kPayload, .filesz = 0, .memsz = 8}}, kElfPayload),
       .format = ImageFormat::kElf32,
       .problem = Kind::kNoData},
      // Raw binary: the form is never taken from a first character alone.
      {.name = "binary starting with ':'",
       .file = Of(":0400000011223344\x01\xFF\n\x01\x20\x02\x10:00\n"),
       .flash = Of(":0400000011223344\x01\xFF\n\x01\x20\x02\x10:00\n"),
       .regions = {{0, 28}}},
      // One whole HEX record in the head makes it HEX: refused by its first line, not burned.
      {.name = "':' then binary bytes, then a whole HEX record",
       .file = Of(":0400000011223344\x01\xFF\n:00000001FF\n"),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadSyntax,
       .line = 1},
      {.name = "binary starting with 'S1'",
       .file = {'S', '1', 0, 1, 2, 3},
       .flash = {'S', '1', 0, 1, 2, 3},
       .regions = {{0, 6}}},
      {.name = "binary of one byte", .file = {0x7F}, .problem = Kind::kTooSmall},
      // A record form with its first record damaged is still that form, refused by line.
      {.name = "hex whose first record has a wrong checksum",
       .file = Of(":040000001122334400\n:00000001FF\n"),
       .format = ImageFormat::kIntelHex,
       .problem = Kind::kBadChecksum,
       .line = 1},
      {.name = "s-record whose first record is cut short",
       .file = Of("S113000000010203\nS9030000FC\n"),
       .format = ImageFormat::kSRecord,
       .problem = Kind::kTruncated,
       .line = 1},
  };
}

TEST(ImageFile, DecodesEachFormAndRefusesWhatIsWrong) {
  for (const DecodeCase& c : DecodeCases()) {
    SCOPED_TRACE(c.name);
    const size_t head = std::min<size_t>(c.file.size(), 1024);
    EXPECT_EQ(DetectImageFormat({c.file.data(), head}), c.format);
    Bytes flash = {0xEE};
    ImageLayout layout{.format = ImageFormat::kSRecord, .regions = {{7, 7}}};
    const ImageProblem problem = DecodeImage(c.file, {.flashBase = c.flashBase}, flash, layout);
    EXPECT_EQ(problem.kind, c.problem) << ImageProblemText(problem);
    if (c.problem != Kind::kNone) {
      EXPECT_EQ(problem.line, c.line);
      EXPECT_EQ(problem.segment, c.segment);
      EXPECT_EQ(problem.address, c.address);
      EXPECT_EQ(flash, Bytes{0xEE}) << "the outputs are untouched on a problem";
      EXPECT_EQ(layout.format, ImageFormat::kSRecord);
      continue;
    }
    EXPECT_EQ(flash, c.flash);
    EXPECT_EQ(layout.format, c.format);
    EXPECT_EQ(layout.flashBase, c.flashBase);
    ASSERT_EQ(layout.regions.size(), c.regions.size());
    for (size_t i = 0; i < c.regions.size(); ++i) {
      EXPECT_EQ(layout.regions[i].address, c.regions[i].address) << i;
      EXPECT_EQ(layout.regions[i].length, c.regions[i].length) << i;
    }
    EXPECT_EQ(layout.filledBytes, c.filled);
    EXPECT_EQ(layout.hasEntryPoint, c.entry >= 0);
    if (c.entry >= 0) {
      EXPECT_EQ(layout.entryPoint, static_cast<uint32_t>(c.entry));
    }
  }
}

// A head of 64 bytes may cut the first record (srec_cat writes 32 data bytes a line): the form
// still shows in what is seen, and what cannot begin a record stays a raw binary.
TEST(ImageFile, DetectsTheFormFromAHeadThatCutsTheFirstRecord) {
  const Bytes data = testing::ImageBytes(32);
  const struct {
    std::string text;
    ImageFormat format;
  } cases[] = {
      {Hex(0, 0x100, data), ImageFormat::kIntelHex},
      {Srec(3, 0x10000000, data), ImageFormat::kSRecord},
      {Srec(1, 0x100, data), ImageFormat::kSRecord},
      {"\r\n" + Hex(0, 0x100, data), ImageFormat::kIntelHex},
      // Records' text with a type no form has: refused by the form's reader, not burned.
      {Hex(6, 0x100, data), ImageFormat::kIntelHex},
      {Srec(4, 0x100, data), ImageFormat::kSRecord},
      {":20" + std::string(40, '0') + "\x01" + std::string(40, '0'), ImageFormat::kBinary},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_GT(c.text.size(), 66u);
    const Bytes head(c.text.begin(), c.text.begin() + 64);
    EXPECT_EQ(DetectImageFormat(head), c.format);
  }
}

// Text forms are read in chunks: records cut by a chunk's end, and line numbers far into a
// file, come out as from the whole file.
TEST(ImageFile, ReadsAHexFileLargerThanAChunkAsAStream) {
  const auto dir = testing::TestFolder("tarvok-image");
  const Bytes bytes = testing::ImageBytes(300 * 1024 + 7);
  const std::string hex = HexOf(bytes, 0x10000100);
  FlashImage image;
  ASSERT_FALSE(
      ReadImage(testing::WriteBytes(dir, "fw.hex", Of(hex)), {.flashBase = 0x10000000}, image));
  ASSERT_EQ(image.size, bytes.size() + 0x100);
  EXPECT_EQ(Bytes(image.data.get(), image.data.get() + image.size), Flash({{0x100, bytes}}));
  EXPECT_EQ(image.endAddress, image.size - 1);
  EXPECT_EQ(image.layout.format, ImageFormat::kIntelHex);
  EXPECT_EQ(image.layout.filledBytes, 0x100u);
  EXPECT_EQ(ImageFillText(image.layout), "Intel HEX, 1 region; 256 bytes of gaps filled with 0xFF");

  // A checksum broken on the record for 0x10040000: past several chunks of text.
  std::string broken = hex;
  const size_t lines = 5 + (0x40000 - 0x100) / 16 + 1;  // five 04 records come before it
  size_t at = 0;
  for (size_t line = 1; line < lines; ++line) {
    at = broken.find('\n', at) + 1;
  }
  const size_t end = broken.find('\n', at);
  broken[end - 1] = broken[end - 1] == '0' ? '1' : '0';
  FlashImage untouched;
  const ImageProblem problem = ReadImage(testing::WriteBytes(dir, "broken.hex", Of(broken)),
                                         {.flashBase = 0x10000000}, untouched);
  EXPECT_EQ(problem.kind, Kind::kBadChecksum);
  EXPECT_EQ(problem.line, lines);
  EXPECT_GT(at, 64u * 1024) << "the record lies beyond the first chunk";
  EXPECT_EQ(problem.offset, at);
  EXPECT_FALSE(untouched.data);
  EXPECT_EQ(untouched.path, "");
}

TEST(ImageFile, ReadRefusesWhatCannotBeBurned) {
  const auto dir = testing::TestFolder("tarvok-image");
  struct Case {
    const char* name;
    std::string path;
    Kind kind;
    uint32_t fileCode = 0;
  };
  const Case cases[] = {
      {.name = "missing",
       .path = (dir / "none").string(),
       .kind = Kind::kUnreadable,
       .fileCode = kFileCannotOpen},
      {.name = "a folder",
       .path = dir.string(),
       .kind = Kind::kUnreadable,
       .fileCode = kFileNotRegular},
      {.name = "empty",
       .path = testing::WriteBytes(dir, "empty", {}),
       .kind = Kind::kUnreadable,
       .fileCode = kFileEmpty},
      {.name = "one byte",
       .path = testing::WriteBytes(dir, "one", {0x42}),
       .kind = Kind::kTooSmall},
      {.name = "hex of nothing",
       .path = testing::WriteBytes(dir, "none.hex", Of(kHexEnd)),
       .kind = Kind::kNoData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlashImage image;
    image.path = "before";
    const ImageProblem problem = ReadImage(c.path, {}, image);
    EXPECT_EQ(problem.kind, c.kind);
    EXPECT_EQ(problem.fileCode, c.fileCode);
    EXPECT_EQ(image.path, "before");
    EXPECT_FALSE(image.data);
  }
  // A raw binary is burned as it is, one region at 0.
  const Bytes bytes = testing::ImageBytes(5000);
  FlashImage image;
  ASSERT_FALSE(ReadImage(testing::WriteBytes(dir, "fw.bin", bytes), {}, image));
  EXPECT_EQ(Bytes(image.data.get(), image.data.get() + image.size), bytes);
  EXPECT_EQ(image.endAddress, 4999u);
  EXPECT_EQ(image.layout.format, ImageFormat::kBinary);
  ASSERT_EQ(image.layout.regions.size(), 1u);
  EXPECT_EQ(image.layout.regions[0].length, 5000u);
  EXPECT_EQ(ImageFillText(image.layout), "");
}

TEST(ImageText, NamesTheLineOrSegmentAndHowTheBaseHelps) {
  struct Case {
    ImageProblem problem;
    const char* text;
  };
  const Case cases[] = {
      {{.kind = Kind::kBadChecksum,
        .format = ImageFormat::kIntelHex,
        .line = 12,
        .expected = 0x3D,
        .found = 0x3C},
       "line 12: the checksum is 0x3C where the record's bytes need 0x3D"},
      {{.kind = Kind::kBadCount,
        .format = ImageFormat::kSRecord,
        .line = 40,
        .expected = 38,
        .found = 37},
       "line 40: the count record says 37 data records where 38 came before it"},
      {{.kind = Kind::kOutsideFlash,
        .format = ImageFormat::kIntelHex,
        .line = 2,
        .address = 0x10000000,
        .endAddress = 0x1000000F},
       "line 2: bytes at 0x10000000 to 0x1000000F lie beyond the flash's 128 MiB; a file linked "
       "for the chip's bus addresses needs --flash-base 0x10000000"},
      {{.kind = Kind::kOutsideFlash,
        .format = ImageFormat::kSRecord,
        .line = 9,
        .address = 0x18000000,
        .endAddress = 0x18000003,
        .flashBase = 0x10000000},
       "line 9: bytes at 0x18000000 to 0x18000003 lie beyond the flash's 128 MiB above the "
       "flash base 0x10000000"},
      {{.kind = Kind::kBelowFlashBase,
        .format = ImageFormat::kElf32,
        .offset = 0x34,
        .address = 0x10000000,
        .segment = 1,
        .flashBase = 0x20000000},
       "segment 1 (offset 0x34): bytes at 0x10000000 lie below the flash base 0x20000000; a "
       "file linked for the chip's bus addresses needs --flash-base 0x10000000"},
      {{.kind = Kind::kBelowFlashBase,
        .format = ImageFormat::kIntelHex,
        .line = 1,
        .address = 0x400,
        .flashBase = 0x10000000},
       "line 1: bytes at 0x00000400 lie below the flash base 0x10000000"},
      {{.kind = Kind::kOverlap,
        .format = ImageFormat::kSRecord,
        .line = 5,
        .address = 0x102,
        .otherAddress = 0x100},
       "line 5: bytes at 0x00000102 are written twice (they overlap the bytes from "
       "0x00000100)"},
      {{.kind = Kind::kSegmentOutsideFile,
        .format = ImageFormat::kElf32,
        .offset = 0x10000,
        .segment = 2},
       "segment 2 (offset 0x10000): the segment's bytes run past the end of the file"},
      {{.kind = Kind::kMissingEnd, .format = ImageFormat::kIntelHex},
       "ends without an end-of-file record (type 01): it may be cut short"},
      {{.kind = Kind::kBadRecordType, .format = ImageFormat::kSRecord, .line = 3, .found = 4},
       "line 3: S4 is no S-record type"},
      {{.kind = Kind::kUnreadable, .fileCode = kFileEmpty}, "is empty"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ImageProblemText(c.problem), c.text);
  }
  const ImageLayout layout{.format = ImageFormat::kSRecord,
                           .regions = {{0x400, 0x1000}, {0x1400, 2}, {0x2000, 1}},
                           .filledBytes = 0x400 + 0xBFE};
  EXPECT_EQ(ImageFillText(layout),
            "Motorola S-record, 3 regions; 4,094 bytes of gaps filled with 0xFF");
  EXPECT_EQ(ImageRegionMapText(layout),
            "0x00000000 to 0x000003FF: 1,024 bytes of 0xFF (gap)\n"
            "0x00000400 to 0x000013FF: 4,096 bytes\n"
            "0x00001400 to 0x00001401: 2 bytes\n"
            "0x00001402 to 0x00001FFF: 3,070 bytes of 0xFF (gap)\n"
            "0x00002000 to 0x00002000: 1 byte\n");
}

}  // namespace
}  // namespace tarvok
