#include "sim/BoardReport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tarvok::sim {
namespace {

std::string Seconds(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", static_cast<double>(us) / 1e6);
  return text;
}

// Written next to its final name and renamed, so that a reader never sees half a file.
bool WriteWhole(const std::filesystem::path& path, const char* bytes, std::size_t count) {
  std::filesystem::path partial = path;
  partial += ".part";
  {
    std::ofstream out(partial, std::ios::binary);
    out.write(bytes, static_cast<std::streamsize>(count));
    if (!out) {
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  return !error;
}

}  // namespace

std::string BoardLine(const BoardRecord& record) {
  std::string line = "board " + std::to_string(record.number) + ": " + ResultName(record.result);
  line +=
      ", " + std::to_string(record.burnsStarted) + (record.burnsStarted == 1 ? " burn" : " burns");
  if (record.wakeSentencesAfterBurn > 0) {
    line +=
        ", " + std::to_string(record.wakeSentencesAfterBurn) + " wake-up sentences after its burn";
  }
  line += record.left ? ", left after " : ", still in place after ";
  return line + Seconds(record.inPlaceUs) + " s";
}

std::string BoardJson(const BoardRecord& record) {
  return "{\"board\": " + std::to_string(record.number) + ", \"result\": \"" +
         ResultName(record.result) +
         "\", \"burns_started\": " + std::to_string(record.burnsStarted) +
         ", \"image_stages_started\": " + std::to_string(record.imageStagesStarted) +
         ", \"image_stages_finished\": " + std::to_string(record.imageStagesFinished) +
         ", \"boot_stage_started\": " + (record.bootStageStarted ? "true" : "false") +
         ", \"boot_stage_brought_loader\": " + (record.bootStageBroughtLoader ? "true" : "false") +
         ", \"wake_sentences_after_burn\": " + std::to_string(record.wakeSentencesAfterBurn) +
         ", \"left\": " + (record.left ? "true" : "false") +
         ", \"seconds_in_place\": " + Seconds(record.inPlaceUs) + "}\n";
}

bool WriteBoardFiles(const std::string& dir, const BoardRecord& record,
                     const std::vector<uint8_t>& flash) {
  const std::filesystem::path base =
      std::filesystem::path(dir) / ("board-" + std::to_string(record.number));
  const std::string json = BoardJson(record);
  // The flash first: a test that waits for the JSON finds both.
  return WriteWhole(base.string() + ".bin", reinterpret_cast<const char*>(flash.data()),
                    flash.size()) &&
         WriteWhole(base.string() + ".json", json.data(), json.size());
}

}  // namespace tarvok::sim
