#include "station/records/BoardLedger.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "serial/PortDiscovery.h"
#include "station/records/StationLog.h"

namespace tarvok {
namespace {

nlohmann::json JsonOf(const BoardInPlace& board) {
  nlohmann::json json = {
      {"burn_ended", board.result.has_value()},
      {"result", board.result ? nlohmann::json(UnitResultWord(*board.result)) : nullptr},
      {"started", board.started},
      {"device", board.device},
      {"identity", board.identity}};
  json["unit"] = board.hasUnit ? nlohmann::json(board.unit) : nlohmann::json(nullptr);
  return json;
}

// The string under `key`, or "" when there is none or it is something else: a file edited by
// hand must not stop a port.
std::string StringField(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

bool BoardOf(const nlohmann::json& json, BoardInPlace& board) {
  if (!json.is_object() || !json.contains("burn_ended") || !json["burn_ended"].is_boolean() ||
      !json.contains("started") || !json["started"].is_string()) {
    return false;
  }
  // A ledger written before results were kept says only that the burn ended: such a board is
  // taken for a cut one, to be burned again once it has left.
  board.result.reset();
  if (json["burn_ended"].get<bool>()) {
    const std::string word = StringField(json, "result");
    board.result = UnitResultOfWord(word).value_or(UnitResult::kInterrupted);
  }
  board.started = json["started"].get<std::string>();
  board.device = StringField(json, "device");
  board.identity = StringField(json, "identity");
  const auto unit = json.find("unit");
  board.hasUnit = unit != json.end() && unit->is_number_unsigned();
  board.unit = board.hasUnit ? unit->get<uint64_t>() : 0;
  return true;
}

}  // namespace

std::string BoardLedgerPathBeside(const std::string& logPath) {
  return logPath + ".boards-in-place";
}

std::unique_ptr<BoardLedger> BoardLedger::Open(const std::string& path, std::string& problem) {
  bool busy = false;
  std::unique_ptr<ExclusiveFileLock> lock =
      ExclusiveFileLock::Acquire(path + ".lock", busy, problem);
  if (!lock) {
    if (busy) {
      problem = "another station uses " + path + " (one station per log)";
    }
    return nullptr;
  }
  std::string text;
  std::map<std::string, BoardInPlace> boards;
  switch (ReadWholeFile(path, text, problem)) {
    case ReadResult::kMissing:
      break;
    case ReadResult::kFailed:
      return nullptr;
    case ReadResult::kRead: {
      const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
      if (!json.is_object()) {
        problem = path +
                  " is damaged (not a JSON object); it lists the boards a station burned "
                  "and has not seen leave: check those ports' boards, then remove it";
        return nullptr;
      }
      for (const auto& [port, entry] : json.items()) {
        BoardInPlace board;
        if (!BoardOf(entry, board)) {
          problem = path + " is damaged at port " + port +
                    ": check that port's board, then remove the file";
          return nullptr;
        }
        boards[PortNameKey(port)] = board;
      }
      break;
    }
  }
  return std::unique_ptr<BoardLedger>(new BoardLedger(path, std::move(lock), std::move(boards)));
}

BoardLedger::BoardLedger(std::string path, std::unique_ptr<ExclusiveFileLock> lock,
                         std::map<std::string, BoardInPlace> boards)
    : path_(std::move(path)), lock_(std::move(lock)), boards_(std::move(boards)) {}

std::optional<BoardInPlace> BoardLedger::Find(const std::string& port) const {
  const std::lock_guard lock(mutex_);
  const auto found = boards_.find(PortNameKey(port));
  return found == boards_.end() ? std::nullopt : std::optional<BoardInPlace>(found->second);
}

bool BoardLedger::Set(const std::string& port, const BoardInPlace& board, std::string& problem) {
  const std::lock_guard lock(mutex_);
  boards_[PortNameKey(port)] = board;
  return Save(problem);
}

bool BoardLedger::Clear(const std::string& port, std::string& problem) {
  const std::lock_guard lock(mutex_);
  if (boards_.erase(PortNameKey(port)) == 0) {
    return true;
  }
  return Save(problem);
}

bool BoardLedger::Save(std::string& problem) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [port, board] : boards_) {
    json[port] = JsonOf(board);
  }
  const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return ReplaceFileDurably(path_, text + "\n", problem);
}

bool LogHoldsAttempt(const std::string& logPath, const std::string& port,
                     const std::string& started) {
  if (started.empty()) {
    return false;
  }
  const std::vector<UnitRecord> records = LastRecordsOfLog(logPath);
  return std::any_of(records.begin(), records.end(), [&](const UnitRecord& record) {
    return PortNameKey(record.port) == PortNameKey(port) && record.started == started;
  });
}

}  // namespace tarvok
