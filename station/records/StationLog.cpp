#include "station/records/StationLog.h"

namespace tarvok {

std::unique_ptr<StationLog> StationLog::Open(const std::string& path, std::string& problem) {
  std::string openProblem;
  std::unique_ptr<AppendOnlyFile> file = AppendOnlyFile::Open(path, openProblem);
  if (!file) {
    problem = "cannot open the station log: " + openProblem;
    return nullptr;
  }
  return std::unique_ptr<StationLog>(new StationLog(path, std::move(file)));
}

StationLog::StationLog(std::string path, std::unique_ptr<AppendOnlyFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

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
