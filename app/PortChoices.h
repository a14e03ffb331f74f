// The dialog's lists of port and line settings, read by their control IDs. Only the dialog
// reads them: it turns them into a burn request (app/DialogRequest.h).
#pragma once

#include <cstdint>
#include <string>

namespace tarvok {

inline constexpr int kPortListId = 1000;          // "IMG COM:"
inline constexpr int kParityListId = 1001;        // "Parity:"
inline constexpr int kOriginalRateListId = 1002;  // "Original BaudRate:"
inline constexpr int kDataBitsListId = 1003;      // "DataBits:"
inline constexpr int kStopBitsListId = 1004;      // "StopBits:"
inline constexpr int kBurnRateListId = 1006;      // "Burn BaudRate:"

class PortChoices {
 public:
  virtual ~PortChoices() = default;
  // The selected position of a list, -1 when none is selected.
  virtual int32_t SelectedIndex(int controlId) const = 0;
  virtual std::string SelectedText(int controlId) const = 0;
};

}  // namespace tarvok
