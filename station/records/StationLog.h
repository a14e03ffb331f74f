// The station's log: one record a line for every unit, appended whole and flushed to disk.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  // The highest sequence number among the records at the end of the file when it was opened
  // (0 for a new log): a station goes on from there, so that a sequence number names one
  // attempt in its log across restarts, kills included (a record is in the file whole or not
  // at all, and a number never written is free to be used again).
  uint64_t LastSequence() const { return lastSequence_; }

 private:
  StationLog(std::string path, std::unique_ptr<AppendOnlyFile> file, uint64_t lastSequence);

  const std::string path_;
  const std::unique_ptr<AppendOnlyFile> file_;
  const uint64_t lastSequence_;
  std::mutex mutex_;
};

// The whole records among the last lines of the log at `path`, oldest first: where a station
// killed right after recording left its last records. Lines that are not a whole record are
// left out; empty when the file cannot be read.
std::vector<UnitRecord> LastRecordsOfLog(const std::string& path);

}  // namespace tarvok
