#include "app/DialogRequest.h"

#include <algorithm>

#include "app/PortSetup.h"
#include "serial/PortDiscovery.h"

namespace tarvok {
namespace {

template <typename Value, std::size_t N>
Value FromListText(const std::array<LineOption<Value>, N>& options, const std::string& text) {
  for (const auto& option : options) {
    if (text == option.listText) {
      return option.value;
    }
  }
  return options.back().value;
}

// Decimal list texts read as the port set-up has always read them: leading blanks and a sign,
// then digits up to the first other character; no digits reads as 0.
uint32_t ClampedDecimal(const std::string& text, uint32_t highest) {
  return static_cast<uint32_t>(std::clamp<int64_t>(ParseDecimal(text), 0, highest));
}

template <typename Value, std::size_t N>
DialogList ListOf(int controlId, const std::array<LineOption<Value>, N>& options, Value selected) {
  DialogList list{controlId, {}, 0};
  for (const auto& option : options) {
    if (option.value == selected) {
      list.selected = static_cast<int>(list.texts.size());
    }
    list.texts.emplace_back(option.listText);
  }
  return list;
}

}  // namespace

std::vector<DialogList> FixedDialogLists() {
  const BurnLine defaults;
  return {
      ListOf(kOriginalRateListId, kRomRates, defaults.romRate),
      ListOf(kBurnRateListId, kBurnRates, defaults.burnRate),
      ListOf(kParityListId, kParityOptions, defaults.parity),
      ListOf(kDataBitsListId, kDataBitsOptions, defaults.dataBits),
      ListOf(kStopBitsListId, kStopBitsOptions, defaults.stopBits),
  };
}

Parity ParityFromListText(const std::string& text) {
  return FromListText(kParityOptions, text);
}

StopBits StopBitsFromListText(const std::string& text) {
  return FromListText(kStopBitsOptions, text);
}

BurnRequest RequestFromDialogLists(const PortChoices& lists) {
  BurnRequest request;
  request.portName = lists.SelectedText(kPortListId);
  request.devicePath = DevicePathForChoice(request.portName);
  request.line.romRate = ClampedDecimal(lists.SelectedText(kOriginalRateListId), UINT32_MAX);
  // The burn rate is taken by its position in the list; no selection keeps the rate.
  const int32_t burnIndex = lists.SelectedIndex(kBurnRateListId);
  request.line.burnRate = burnIndex >= 0 && burnIndex < static_cast<int32_t>(kBurnRates.size())
                              ? kBurnRates[static_cast<std::size_t>(burnIndex)].value
                              : 0;
  request.line.dataBits =
      static_cast<DataBits>(ClampedDecimal(lists.SelectedText(kDataBitsListId), UINT8_MAX));
  request.line.parity = ParityFromListText(lists.SelectedText(kParityListId));
  request.line.stopBits = StopBitsFromListText(lists.SelectedText(kStopBitsListId));
  return request;
}

}  // namespace tarvok
