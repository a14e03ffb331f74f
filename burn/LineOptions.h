// The line settings a burn can be asked for, in one place: the supported rates of the boot
// ROM and of the image transfer, the data bits, parities and stop bits, each with the word the
// command line takes for it and the text the dialog's list shows for it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok {

enum class DataBits : uint8_t { k8 = 8, k7 = 7, k6 = 6 };
// The values are the serial device layer's parity and stop-bits codes.
enum class Parity : uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBits : uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };

// One choice of a setting: its value, the command line's word and the dialog's list text.
template <typename Value>
struct LineOption {
  Value value;
  const char* word;
  const char* listText;
};

// In the dialog's list order; the first entry is each list's default.
inline constexpr std::array<LineOption<uint32_t>, 2> kRomRates = {
    {{9600, "9600", "9600"}, {115200, "115200", "115200"}}};
inline constexpr std::array<LineOption<uint32_t>, 4> kBurnRates = {{
    {115200, "115200", "115200"},
    {230400, "230400", "230400"},
    {460800, "460800", "460800"},
    {921600, "921600", "921600"},
}};
inline constexpr std::array<LineOption<DataBits>, 3> kDataBitsOptions = {
    {{DataBits::k8, "8", "8"}, {DataBits::k7, "7", "7"}, {DataBits::k6, "6", "6"}}};
inline constexpr std::array<LineOption<Parity>, 5> kParityOptions = {{
    {Parity::kNone, "none", "NOPARITY"},
    {Parity::kOdd, "odd", "ODDPARITY"},
    {Parity::kEven, "even", "EVENPARITY"},
    {Parity::kMark, "mark", "MARKPARITY"},
    {Parity::kSpace, "space", "SPACEPARITY"},
}};
inline constexpr std::array<LineOption<StopBits>, 3> kStopBitsOptions = {{
    {StopBits::kOne, "1", "ONESTOPBIT"},
    {StopBits::kOneAndHalf, "1.5", "ONE5STOPBITS"},
    {StopBits::kTwo, "2", "TWOSTOPBITS"},
}};

// The dialog's default burn rate: the list's last entry, the fastest.
inline constexpr uint32_t kDefaultBurnRate = kBurnRates.back().value;

bool IsSupportedRomRate(uint32_t rate);
bool IsSupportedBurnRate(uint32_t rate);

// The loader's code for a rate (1 for 921600 ... 14 for 110), 0 for a rate it has no code for.
uint8_t BaudCodeOfRate(uint32_t rate);

// The value whose command-line word is `word`, if any.
template <typename Value, std::size_t N>
std::optional<Value> OptionByWord(const std::array<LineOption<Value>, N>& options,
                                  std::string_view word) {
  for (const auto& option : options) {
    if (word == option.word) {
      return option.value;
    }
  }
  return std::nullopt;
}

// The word of `value` ("odd", "1.5", "921600"), for people and the command line.
template <typename Value, std::size_t N>
const char* WordOf(const std::array<LineOption<Value>, N>& options, Value value) {
  for (const auto& option : options) {
    if (option.value == value) {
      return option.word;
    }
  }
  return "?";
}

}  // namespace tarvok
