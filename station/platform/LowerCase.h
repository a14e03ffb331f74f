// ASCII text in lower case: how port names and hex digests are compared without regard to case.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace tarvok {

inline std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace tarvok
