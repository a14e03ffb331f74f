#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "burn/EmbeddedLoader.h"
#include "burn/FlashImage.h"
#include "burn/LoaderImage.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;

// The program's paths are UTF-8 on every platform.
std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("tarvok-test-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const fs::path file = path_ / fs::u8path(name);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Utf8(file);
  }
  std::string Path() const { return Utf8(path_); }

 private:
  fs::path path_;
};

struct LoadCase {
  const char* name;
  std::vector<uint8_t> contents;
  uint32_t loadResult;
  uint32_t validResult;
  uint32_t endAddress;
};

TEST(FlashImage, LoadAndValidate) {
  TempDir dir;
  const LoadCase cases[] = {
      {"two bytes are the smallest valid image", {1, 2}, 0, 0, 1},
      {"one byte ends where it starts", {1}, 0, kNotValid, 0},
      {"an empty file cannot be loaded", {}, kContentsUnavailable, kNotValid, 0},
      {"1000 bytes", std::vector<uint8_t>(1000, 0xAB), 0, 0, 999},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = CreateFlashImage();
    ASSERT_NE(image, nullptr);
    const std::string file = dir.Write("image.bin", c.contents);
    EXPECT_EQ(image->LoadFile(file.c_str()), c.loadResult);
    EXPECT_EQ(image->IsValid(), c.validResult);
    EXPECT_EQ(image->endAddress, c.endAddress);
    if (c.loadResult == 0) {
      EXPECT_EQ(std::memcmp(image->data.get(), c.contents.data(), c.contents.size()), 0);
      EXPECT_EQ(image->path, file);
    } else {
      EXPECT_EQ(image->data, nullptr);
      EXPECT_TRUE(image->path.empty());
    }
  }
}

TEST(FlashImage, FailedLoadKeepsThePreviousPathAndContents) {
  TempDir dir;
  auto image = CreateFlashImage();
  const std::string good = dir.Write("good.bin", {9, 8, 7});
  ASSERT_EQ(image->LoadFile(good.c_str()), 0u);
  EXPECT_EQ(image->LoadFile((dir.Path() + "/missing.bin").c_str()), kContentsUnavailable);
  EXPECT_EQ(image->LoadFile(dir.Path().c_str()), kContentsUnavailable);  // a directory
  EXPECT_EQ(image->LoadFile(""), kMissingArgument);
  EXPECT_EQ(image->LoadFile(nullptr), kMissingArgument);
  EXPECT_EQ(image->path, good);
  EXPECT_EQ(image->size, 3u);
  EXPECT_EQ(image->data[0], 9);
}

TEST(FlashImage, OpensUtf8Paths) {
  TempDir dir;
  const std::string file = dir.Write("прошивка-固件.bin", {0x55, 0xAA});
  auto image = CreateFlashImage();
  EXPECT_EQ(image->LoadFile(file.c_str()), 0u);
  EXPECT_EQ(image->size, 2u);
}

TEST(ReadWholeFile, Codes) {
  TempDir dir;
  const std::string file = dir.Write("f.bin", {1, 2, 3});
  std::unique_ptr<uint8_t[]> data;
  uint32_t size = 77;
  EXPECT_EQ(ReadWholeFile(nullptr, &data, &size, nullptr), 1u);
  EXPECT_EQ(ReadWholeFile(file.c_str(), nullptr, &size, nullptr), 1u);
  EXPECT_EQ(ReadWholeFile(file.c_str(), &data, nullptr, nullptr), 1u);
  EXPECT_EQ(ReadWholeFile((dir.Path() + "/none").c_str(), &data, &size, nullptr), 2u);
  EXPECT_EQ(ReadWholeFile(dir.Path().c_str(), &data, &size, nullptr), 3u);
#ifndef _WIN32
  // Opening a FIFO would wait for a writer forever, a device may never end: both refused.
  const std::string fifo = dir.Path() + "/fifo.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadWholeFile(fifo.c_str(), &data, &size, nullptr), 3u);
  EXPECT_EQ(ReadWholeFile("/dev/zero", &data, &size, nullptr), 3u);
  uint32_t failure = 0;
  EXPECT_EQ(OpenRegularFile(fifo.c_str(), &failure), nullptr);
  EXPECT_EQ(failure, 3u);
#endif
  EXPECT_EQ(ReadWholeFile(dir.Write("empty", {}).c_str(), &data, &size, nullptr), 4u);
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(data, nullptr);
  uint32_t modified = 0;
  EXPECT_EQ(ReadWholeFile(file.c_str(), &data, &size, &modified), 0u);
  EXPECT_EQ(size, 3u);
  EXPECT_NE(modified, 0u);
}

struct ValidityCase {
  const char* name;
  uint32_t startAddress;
  uint32_t size;
  uint32_t result;
};

TEST(FlashImage, AddressesMustFitTheLoaders27Bits) {
  const ValidityCase cases[] = {
      {"ends at the last 27-bit address", 0x07FFFF00, 0x100, 0},
      {"one byte past it would wrap onto address 0", 0x07FFFF00, 0x101, kNotValid},
      {"a 128 MiB image from 0 fits", 0, 0x08000000, 0},
      {"start + size past 4 GiB wraps", 0xFFFFFF00, 0x200, kNotValid},
  };
  for (const ValidityCase& c : cases) {
    SCOPED_TRACE(c.name);
    FlashImage image;
    image.path = "x.bin";
    image.data = std::make_unique<uint8_t[]>(1);
    image.size = c.size;
    image.startAddress = c.startAddress;
    image.endAddress = c.startAddress + c.size - 1;
    EXPECT_EQ(image.IsValid(), c.result);
  }
}

TEST(FlashImage, ExportCutsNamesAndPaths) {
  FlashImage image;
  image.name = std::string(63, 'n');
  image.path = std::string(300, 'p');
  image.size = 5;
  image.startAddress = 0;
  image.endAddress = 4;
  ImageView view;
  std::memset(&view, 0x7F, sizeof(view));
  EXPECT_EQ(image.Export(&view), 0u);
  EXPECT_EQ(std::string(view.name), image.name);
  EXPECT_EQ(std::string(view.path), std::string(255, 'p'));
  EXPECT_EQ(view.size, 5u);
  EXPECT_EQ(view.reserved, 0);
  EXPECT_EQ(view.valid, 1);
  image.name += 'x';
  image.valid = 0;
  EXPECT_EQ(image.Export(&view), 0u);
  EXPECT_EQ(std::string(view.name), std::string(63, 'n'));
  EXPECT_EQ(view.valid, 0);
  EXPECT_EQ(image.Export(nullptr), kMissingArgument);

  // Validate fills the view only when the image is not valid, and a null view is fine.
  std::memset(&view, 0x7F, sizeof(view));
  EXPECT_EQ(image.Validate(&view), kNotValid);  // no data
  EXPECT_EQ(view.size, 5u);
  EXPECT_EQ(image.Validate(nullptr), kNotValid);
  image.data = std::make_unique<uint8_t[]>(5);
  std::memset(&view, 0x7F, sizeof(view));
  EXPECT_EQ(image.Validate(&view), 0u);
  EXPECT_EQ(view.size, 0x7F7F7F7Fu);

  image.UnloadData();
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.size, 0u);
  EXPECT_EQ(image.endAddress, 0u);
}

TEST(LoaderImage, EmbeddedLoader) {
  EXPECT_EQ(CreateLoaderImage(nullptr), kMissingArgument);
  std::unique_ptr<LoaderImage> loader;
  ASSERT_EQ(CreateLoaderImage(&loader), 0u);
  ASSERT_NE(loader, nullptr);
  LoaderView view{};
  EXPECT_EQ(loader->Validate(&view), kNotValid);
  EXPECT_EQ(loader->LoadEmbedded(nullptr, 5), kMissingArgument);
  EXPECT_EQ(loader->LoadEmbedded(kEmbeddedLoader, 0), kContentsUnavailable);
  EXPECT_EQ(loader->name, "BE");

  ASSERT_EQ(loader->LoadEmbedded(kEmbeddedLoader, kEmbeddedLoaderLength), 0u);
  EXPECT_EQ(loader->size, kEmbeddedLoaderLength);
  EXPECT_NE(loader->data.get(), kEmbeddedLoader);
  EXPECT_EQ(std::memcmp(loader->data.get(), kEmbeddedLoader, kEmbeddedLoaderLength), 0);
  EXPECT_EQ(loader->Validate(nullptr), 0u);
  EXPECT_EQ(loader->Export(&view), 0u);
  EXPECT_EQ(std::string(view.name), "BE");
  EXPECT_EQ(view.data, loader->data.get());
  EXPECT_EQ(view.size, kEmbeddedLoaderLength);
  EXPECT_EQ(loader->Export(nullptr), kMissingArgument);
  DestroyLoaderImage(std::move(loader));
}

}  // namespace
}  // namespace tarvok
