// Each row writes one file, then reads it with ReadImage in a forked child: the time it takes
// and the child's peak resident memory (VmHWM, reset just before through clear_refs) less its
// resident memory before, set against the image's size. A text form must stay within a small
// multiple of the image however large its text.
#include "bench/ImageTable.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "burn/ImageFile.h"
#include "tools/spawn/Spawn.h"

namespace tarvok::bench {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kBase = 0x10000000;
const char* const kFolder = "/tmp/tarvok-bench-image";

std::vector<uint8_t> RandomBytes(uint32_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(7);
  for (uint8_t& byte : bytes) {
    byte = static_cast<uint8_t>(random());
  }
  return bytes;
}

void PutRecord(std::FILE* out, const char* start, const std::vector<uint8_t>& bytes,
               uint8_t checksum) {
  std::fputs(start, out);
  for (const uint8_t byte : bytes) {
    std::fprintf(out, "%02X", byte);
  }
  std::fprintf(out, "%02X\n", checksum);
}

uint8_t Sum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (const uint8_t byte : bytes) {
    sum += byte;
  }
  return static_cast<uint8_t>(sum);
}

// Intel HEX of `image` at kBase in records of 16 bytes (as objcopy writes), stopping early
// once the file reaches `stopAt` bytes. The image's bytes the file holds.
uint32_t WriteHex(const std::string& path, const std::vector<uint8_t>& image, uint64_t stopAt) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  uint32_t upper = 0xFFFFFFFF;
  uint32_t at = 0;
  for (; at < image.size() && static_cast<uint64_t>(std::ftell(out)) < stopAt; at += 16) {
    const uint32_t address = kBase + at;
    if (address >> 16 != upper) {
      upper = address >> 16;
      const std::vector<uint8_t> record = {
          2, 0, 0, 4, static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      PutRecord(out, ":", record, static_cast<uint8_t>(0x100 - Sum(record)));
    }
    std::vector<uint8_t> record = {16, static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(address), 0};
    record.insert(record.end(), image.begin() + at, image.begin() + at + 16);
    PutRecord(out, ":", record, static_cast<uint8_t>(0x100 - Sum(record)));
  }
  std::fputs(":00000001FF\n", out);
  std::fclose(out);
  return at;
}

// S37 records of 32 bytes (as srec_cat writes).
void WriteSRecord(const std::string& path, const std::vector<uint8_t>& image) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  for (uint32_t at = 0; at < image.size(); at += 32) {
    const uint32_t address = kBase + at;
    std::vector<uint8_t> record = {
        37, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    record.insert(record.end(), image.begin() + at, image.begin() + at + 32);
    PutRecord(out, "S3", record, static_cast<uint8_t>(~Sum(record)));
  }
  std::fputs("S70510000000EA\n", out);
  std::fclose(out);
}

// One loadable segment at kBase.
void WriteElf(const std::string& path, const std::vector<uint8_t>& image) {
  uint8_t header[52 + 32] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
  const auto put16 = [&header](size_t at, uint32_t value) {
    header[at] = static_cast<uint8_t>(value);
    header[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  const auto put32 = [&](size_t at, uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
  };
  put16(16, 2);   // ET_EXEC
  put16(18, 40);  // EM_ARM
  put32(20, 1);
  put32(24, kBase + 1);
  put32(28, 52);
  put16(40, 52);
  put16(42, 32);
  put16(44, 1);
  const uint32_t segment[8] = {1,
                               sizeof header,
                               kBase,
                               kBase,
                               static_cast<uint32_t>(image.size()),
                               static_cast<uint32_t>(image.size()),
                               5,
                               4};
  for (size_t k = 0; k < 8; ++k) {
    put32(52 + 4 * k, segment[k]);
  }
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(header), sizeof header);
  file.write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
}

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) {
      return std::stol(line.substr(length + 1));
    }
  }
  return -1;
}

struct Row {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
  uint32_t imageBytes = 0;
};

// Reads `path` in a forked child, which starts without the parent's freed memory in use.
Row Measure(const std::string& path) {
  const spawn::Spawned child = spawn::ForkRun([&path](int out) {
    const long before = StatusKiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak from here on
    FlashImage image;
    const auto start = std::chrono::steady_clock::now();
    const ImageProblem problem = ReadImage(path, {.flashBase = kBase}, image);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const std::string line = std::to_string(problem ? 0 : 1) + " " + std::to_string(took.count()) +
                             " " + std::to_string(StatusKiB("VmHWM:") - before) + " " +
                             std::to_string(image.size) + "\n";
    [[maybe_unused]] const ssize_t written = write(out, line.data(), line.size());
  });
  Row row;
  const std::string line = spawn::ReadLineFrom(child.out);
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  int ok = 0;
  unsigned long image = 0;
  if (std::sscanf(line.c_str(), "%d %lf %ld %lu", &ok, &row.seconds, &row.peakKiB, &image) == 4) {
    row.ok = ok == 1;
    row.imageBytes = static_cast<uint32_t>(image);
  }
  return row;
}

}  // namespace

void PrintImageTable() {
  fs::create_directories(kFolder);
  const std::vector<uint8_t> image = RandomBytes(16 * kMiB);
  const std::string folder = kFolder;
  struct Case {
    const char* name;
    std::string path;
    std::function<void(const std::string&)> write;
  };
  const Case cases[] = {
      {"raw binary, 16 MiB image", folder + "/image.bin",
       [&image](const std::string& path) {
         std::ofstream(path, std::ios::binary)
             .write(reinterpret_cast<const char*>(image.data()),
                    static_cast<std::streamsize>(image.size()));
       }},
      {"HEX file of 16 MiB", folder + "/16mib.hex",
       [&image](const std::string& path) { WriteHex(path, image, 16 * kMiB); }},
      {"HEX of a 16 MiB image", folder + "/image.hex",
       [&image](const std::string& path) { WriteHex(path, image, UINT64_MAX); }},
      {"S37 of a 16 MiB image", folder + "/image.s37",
       [&image](const std::string& path) { WriteSRecord(path, image); }},
      {"ELF of a 16 MiB image", folder + "/image.elf",
       [&image](const std::string& path) { WriteElf(path, image); }},
  };
  std::printf("\nImage files read (ReadImage; peak is resident memory above the start):\n");
  std::printf("%-26s %9s %10s %9s %10s %9s %8s\n", "file", "file MiB", "image MiB", "seconds",
              "file MiB/s", "peak MiB", "x image");
  for (const Case& c : cases) {
    c.write(c.path);
    const double fileMiB = static_cast<double>(fs::file_size(c.path)) / kMiB;
    const Row row = Measure(c.path);
    const double imageMiB = static_cast<double>(row.imageBytes) / kMiB;
    const double peakMiB = static_cast<double>(row.peakKiB) / 1024;
    std::printf("%-26s %9.1f %10.2f %9.3f %10.1f %9.1f %8.2f%s\n", c.name, fileMiB, imageMiB,
                row.seconds, fileMiB / row.seconds, peakMiB,
                imageMiB > 0 ? peakMiB / imageMiB : 0.0, row.ok ? "" : "  FAILED");
    fs::remove(c.path);
  }
  fs::remove_all(kFolder);
}

}  // namespace tarvok::bench
