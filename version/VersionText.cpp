#include "version/VersionText.h"

#include "burn/EmbeddedBootStage.h"
#include "burn/EmbeddedLoader.h"
#include "version/Version.h"

namespace tarvok {

std::string VersionText(std::string_view program) {
  constexpr std::size_t kShortHashDigits = 12;
  std::string text{program};
  text += " " TARVOK_VERSION "\nRAM loader: ";
  text += std::to_string(kEmbeddedLoaderLength);
  text += " bytes, SHA-256 ";
  text += std::string_view(kEmbeddedLoaderSha256).substr(0, kShortHashDigits);
  text += "\nboot stage: ";
  text += std::to_string(kEmbeddedBootStageLength);
  text += " bytes, SHA-256 ";
  text += std::string_view(kEmbeddedBootStageSha256).substr(0, kShortHashDigits);
  return text;
}

}  // namespace tarvok
