// The dialog's lists turned into a burn request: the one place where list positions and list
// texts become settings.
#pragma once

#include <string>
#include <vector>

#include "app/PortChoices.h"
#include "burn/BurnRequest.h"

namespace tarvok {

// One of the dialog's fixed lists: its texts in order and the one selected at start.
struct DialogList {
  int controlId;
  std::vector<std::string> texts;
  int selected;
};
// The rate and line-setting lists, as both dialogs fill them.
std::vector<DialogList> FixedDialogLists();

// Exact, case-sensitive list texts; any other text is the list's last choice (space parity,
// two stop bits), as the lists have always been read.
Parity ParityFromListText(const std::string& text);
StopBits StopBitsFromListText(const std::string& text);

// The port, rates and line settings selected in the lists. The image, the loader and the stop
// token are the caller's to add.
BurnRequest RequestFromDialogLists(const PortChoices& lists);

}  // namespace tarvok
