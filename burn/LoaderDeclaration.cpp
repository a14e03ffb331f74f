#include "burn/LoaderDeclaration.h"

#include <algorithm>
#include <cstring>

#include "firmware/loader_codes.h"

namespace tarvok {

// "TVKLDECL", version, features, six zeros: anything else is no declaration at all, so that
// a loader from elsewhere whose last bytes merely resemble one is still spoken to classically.
LoaderAdditions DeclaredAdditions(const uint8_t* loader, uint32_t length) {
  LoaderAdditions additions;
  if (loader == nullptr || length < LOADER_DECLARATION_BYTES) {
    return additions;
  }
  const uint8_t* declaration = loader + length - LOADER_DECLARATION_BYTES;
  const uint8_t* reserved = declaration + LOADER_DECLARATION_MAGIC_BYTES + 2;
  if (std::memcmp(declaration, LOADER_DECLARATION_MAGIC, LOADER_DECLARATION_MAGIC_BYTES) != 0 ||
      declaration[LOADER_DECLARATION_MAGIC_BYTES] != LOADER_DECLARATION_VERSION ||
      !std::all_of(reserved, loader + length, [](uint8_t byte) { return byte == 0; })) {
    return additions;
  }
  const uint8_t features = declaration[LOADER_DECLARATION_MAGIC_BYTES + 1];
  additions.bootStage = (features & LOADER_FEATURE_BOOT_STAGE) != 0;
  additions.flashCrc = (features & LOADER_FEATURE_FLASH_CRC) != 0;
  return additions;
}

}  // namespace tarvok
