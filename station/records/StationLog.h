// The station's log: one record a line for every unit, appended whole and flushed to disk.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "station/platform/DurableFiles.h"
#include "station/records/UnitRecord.h"

namespace tarvok {

class StationLog {
 public:
  // Opens `path` for appending (creating it), never truncating. Each append is whole, so a
  // second writer would not tear a line; the station itself keeps others away with the lock
  // beside its ledger.
  static std::unique_ptr<StationLog> Open(const std::string& path, std::string& problem);

  // Writes `line` whole with one append call and flushes it to disk before returning; when the
  // file ends inside a line (torn by a power cut or a full disk), `line` starts on a fresh
  // line. Safe from several threads at once. false with `problem`, for people.
  bool Append(const std::string& line, std::string& problem);

  const std::string& Path() const { return path_; }

 private:
  StationLog(std::string path, std::unique_ptr<AppendOnlyFile> file);

  const std::string path_;
  const std::unique_ptr<AppendOnlyFile> file_;
  std::mutex mutex_;
};

}  // namespace tarvok
