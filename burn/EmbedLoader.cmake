# Turns the loader binary into a C++ source file holding its bytes, its length word and its
# SHA-256 (which `--version` names, so a support request says which loader went down the wire).
# Run as: cmake -DINPUT=<loader.bin> -DOUTPUT=<EmbeddedLoader.cpp> -P EmbedLoader.cmake
include("${CMAKE_CURRENT_LIST_DIR}/LoaderFileCheck.cmake")
tarvok_check_loader_file("${INPUT}" "Loader file" " (set TARVOK_LOADER_FILE to a loader binary)"
                         size)
file(READ "${INPUT}" hex HEX)
file(SHA256 "${INPUT}" sha256)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time. Do not edit.
#include \"burn/EmbeddedLoader.h\"

namespace tarvok {

const uint8_t kEmbeddedLoader[] = {
    ${bytes}
};
const uint32_t kEmbeddedLoaderLength = ${size};
const char kEmbeddedLoaderSha256[] = \"${sha256}\";

}  // namespace tarvok
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
