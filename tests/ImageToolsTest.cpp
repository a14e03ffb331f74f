// Images written by the tools firmware builds use (binutils' objcopy and ld, srecord's
// srec_cat) from one raw binary decode to that binary's bytes, placed where the tool put them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "burn/ImageFile.h"
#include "tests/support/ImageFactory.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFolder.h"

namespace tarvok {
namespace {

using Bytes = std::vector<uint8_t>;
using Command = std::vector<std::string>;

const std::string kObjcopy = TARVOK_OBJCOPY_PATH;
const std::string kLinker = TARVOK_LD_PATH;
const std::string kSrecCat = TARVOK_SREC_CAT_PATH;

struct ToolCase {
  const char* name;
  uint32_t size;                  // of the raw binary
  std::vector<Command> commands;  // "IN" the binary, "OUT" the image, "OBJ" a scratch file
  uint32_t fileAddress;           // where the tool placed the binary
  uint32_t flashBase = 0;
  ImageFormat format;
};

std::vector<ToolCase> Cases() {
  const std::string objcopy = kObjcopy;
  const std::string srecCat = kSrecCat;
  return {
      {.name = "objcopy ihex at 0x1000",
       .size = 70000,
       .commands = {{objcopy, "-I", "binary", "-O", "ihex", "--change-addresses", "0x1000", "IN",
                     "OUT"}},
       .fileAddress = 0x1000,
       .format = ImageFormat::kIntelHex},
      {.name = "objcopy ihex at the flash's bus address",
       .size = 70000,
       .commands = {{objcopy, "-I", "binary", "-O", "ihex", "--change-addresses", "0x10000000",
                     "IN", "OUT"}},
       .fileAddress = 0x10000000,
       .flashBase = 0x10000000,
       .format = ImageFormat::kIntelHex},
      {.name = "objcopy srec at 0x1000",
       .size = 70000,
       .commands = {{objcopy, "-I", "binary", "-O", "srec", "--change-addresses", "0x1000", "IN",
                     "OUT"}},
       .fileAddress = 0x1000,
       .format = ImageFormat::kSRecord},
      {.name = "objcopy S37 at the flash's bus address",
       .size = 70000,
       .commands = {{objcopy, "-I", "binary", "-O", "srec", "--srec-forceS3", "--change-addresses",
                     "0x10000000", "IN", "OUT"}},
       .fileAddress = 0x10000000,
       .flashBase = 0x10000000,
       .format = ImageFormat::kSRecord},
      {.name = "srec_cat S19",
       .size = 3000,
       .commands = {{srecCat, "IN", "-binary", "-offset", "0x100", "-o", "OUT", "-motorola",
                     "-address-length=2"}},
       .fileAddress = 0x100,
       .format = ImageFormat::kSRecord},
      {.name = "srec_cat S28",
       .size = 70000,
       .commands = {{srecCat, "IN", "-binary", "-offset", "0x1000", "-o", "OUT", "-motorola",
                     "-address-length=3"}},
       .fileAddress = 0x1000,
       .format = ImageFormat::kSRecord},
      {.name = "srec_cat S37 at the flash's bus address",
       .size = 70000,
       .commands = {{srecCat, "IN", "-binary", "-offset", "0x10000000", "-o", "OUT", "-motorola",
                     "-address-length=4"}},
       .fileAddress = 0x10000000,
       .flashBase = 0x10000000,
       .format = ImageFormat::kSRecord},
      {.name = "srec_cat intel at the flash's bus address",
       .size = 70000,
       .commands = {{srecCat, "IN", "-binary", "-offset", "0x10000000", "-o", "OUT", "-intel"}},
       .fileAddress = 0x10000000,
       .flashBase = 0x10000000,
       .format = ImageFormat::kIntelHex},
      {.name = "linked ELF a page into flash",
       .size = 70000,
       .commands = {{objcopy, "-I", "binary", "-O", "elf32-littlearm", "-B", "arm", "IN", "OBJ"},
                    {kLinker, "--section-start=.data=0x10001000", "-e", "0x10001001", "OBJ", "-o",
                     "OUT"}},
       .fileAddress = 0x10001000,
       .flashBase = 0x10000000,
       .format = ImageFormat::kElf32},
  };
}

TEST(ImageTools, EveryToolsOutputDecodesToTheBinary) {
  for (const std::string& tool : {kObjcopy, kLinker, kSrecCat}) {
    if (tool.empty() || !std::filesystem::exists(tool)) {
      GTEST_SKIP() << "a tool is missing: objcopy, ld (binutils-arm-none-eabi) or srec_cat";
    }
  }
  const auto dir = testing::TestFolder("tarvok-image-tools");
  for (const ToolCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = testing::ImageBytes(c.size, c.size);
    const std::string in = testing::WriteBytes(dir, "in.bin", bytes);
    const std::string out = (dir / "out").string();
    const std::string obj = (dir / "obj.o").string();
    std::filesystem::remove(out);
    for (Command command : c.commands) {
      for (std::string& word : command) {
        word = word == "IN" ? in : word == "OUT" ? out : word == "OBJ" ? obj : word;
      }
      const testing::ProcessResult result = testing::RunProcess(command);
      ASSERT_EQ(result.exitCode, 0) << command[0] << ": " << result.err;
    }
    FlashImage image;
    const ImageProblem problem = ReadImage(out, {.flashBase = c.flashBase}, image);
    ASSERT_FALSE(problem) << static_cast<int>(problem.kind) << " line " << problem.line;
    const uint32_t at = c.fileAddress - c.flashBase;
    Bytes expected(at, kErasedFlashByte);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(Bytes(image.data.get(), image.data.get() + image.size), expected);
    EXPECT_EQ(image.layout.format, c.format);
    EXPECT_EQ(image.layout.filledBytes, at);
    ASSERT_EQ(image.layout.regions.size(), 1u);
    EXPECT_EQ(image.layout.regions[0].address, at);
  }
}

}  // namespace
}  // namespace tarvok
