#include "station/records/StationLog.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tarvok {
namespace {

// How much of a log's end is read back: far more than the records of a station's ports.
constexpr std::streamoff kLogTailBytes = 256 * 1024;

// The last `kLogTailBytes` of the file, from the first line that starts within them.
std::string TailOf(const std::string& path) {
  // The path is UTF-8, as the station's other files take it.
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in || !in.seekg(0, std::ios::end)) {
    return "";
  }
  const std::streamoff size = in.tellg();
  if (size <= 0) {
    return "";  // empty, or a device without an end (/dev/full)
  }
  // One byte before the tail, to know whether the tail starts a line.
  const std::streamoff from = size > kLogTailBytes ? size - kLogTailBytes - 1 : 0;
  std::string text(static_cast<std::size_t>(size - from), '\0');
  if (!in.seekg(from)) {
    return "";
  }
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (from == 0) {
    return text;
  }
  const std::size_t lineStart = text.find('\n');
  return lineStart == std::string::npos ? "" : text.substr(lineStart + 1);
}

}  // namespace

std::vector<UnitRecord> LastRecordsOfLog(const std::string& path) {
  const std::string text = TailOf(path);
  std::vector<UnitRecord> records;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    if (std::optional<UnitRecord> record = ParseUnitRecordLine(text.substr(begin, end - begin))) {
      records.push_back(std::move(*record));
    }
    begin = end + 1;
  }
  return records;
}

std::unique_ptr<StationLog> StationLog::Open(const std::string& path, std::string& problem) {
  std::string openProblem;
  std::unique_ptr<AppendOnlyFile> file = AppendOnlyFile::Open(path, openProblem);
  if (!file) {
    problem = "cannot open the station log: " + openProblem;
    return nullptr;
  }
  uint64_t lastSequence = 0;
  for (const UnitRecord& record : LastRecordsOfLog(path)) {
    lastSequence = std::max(lastSequence, record.sequence);
  }
  return std::unique_ptr<StationLog>(new StationLog(path, std::move(file), lastSequence));
}

StationLog::StationLog(std::string path, std::unique_ptr<AppendOnlyFile> file,
                       uint64_t lastSequence)
    : path_(std::move(path)), file_(std::move(file)), lastSequence_(lastSequence) {}

bool StationLog::Append(const std::string& line, std::string& problem) {
  const std::lock_guard<std::mutex> hold(mutex_);
  const std::string bytes = file_->EndsInsideLine() ? "\n" + line : line;
  std::string writeProblem;
  if (!file_->AppendDurably(bytes, writeProblem)) {
    problem = "cannot write to the station log " + path_ + ": " + writeProblem;
    return false;
  }
  return true;
}

}  // namespace tarvok
