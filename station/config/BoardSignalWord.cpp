#include "station/config/BoardSignalWord.h"

#include <algorithm>
#include <iterator>

namespace tarvok {
namespace {

struct SignalWord {
  const char* word;
  BoardSignal kind;
  uint32_t modemLine;
};
constexpr SignalWord kSignalWords[] = {
    {"operator", BoardSignal::kOperator, 0},
    {"port", BoardSignal::kPort, 0},
    {"dsr", BoardSignal::kModemLine, kModemDsr},
    {"cts", BoardSignal::kModemLine, kModemCts},
    {"dcd", BoardSignal::kModemLine, kModemDcd},
    {"ri", BoardSignal::kModemLine, kModemRing},
    {"chip", BoardSignal::kChip, 0},
};

}  // namespace

const std::vector<std::string>& BoardSignalWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> all;
    for (const SignalWord& signal : kSignalWords) {
      all.emplace_back(signal.word);
    }
    return all;
  }();
  return words;
}

bool BoardSignalOfWord(const std::string& word, BoardSignalChoice& choice) {
  const auto signal = std::find_if(std::begin(kSignalWords), std::end(kSignalWords),
                                   [&](const SignalWord& s) { return word == s.word; });
  if (signal == std::end(kSignalWords)) {
    return false;
  }
  choice.kind = signal->kind;
  choice.modemLine = signal->modemLine;
  return true;
}

}  // namespace tarvok
