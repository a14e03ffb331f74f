// The dialog's lists as fixed selections, for tests of the dialog's logic.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/PortChoices.h"

namespace tarvok::testing {

class FixedChoices : public PortChoices {
 public:
  struct Choice {
    int32_t index;
    std::string text;
  };
  std::map<int, Choice> choices = {
      {kPortListId, {1, "COM1001"}},    {kOriginalRateListId, {0, "9600"}},
      {kBurnRateListId, {3, "921600"}}, {kDataBitsListId, {0, "8"}},
      {kParityListId, {0, "NOPARITY"}}, {kStopBitsListId, {0, "ONESTOPBIT"}},
  };

  int32_t SelectedIndex(int controlId) const override { return choices.at(controlId).index; }
  std::string SelectedText(int controlId) const override { return choices.at(controlId).text; }
};

}  // namespace tarvok::testing
