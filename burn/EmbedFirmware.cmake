# Turns a firmware binary the program carries (the RAM loader, the boot stage) into a C++
# source file holding its bytes, its length word and its SHA-256 (which `--version` names, so
# a support request says which bytes went down the wire).
# Run as: cmake -DINPUT=<file.bin> -DOUTPUT=<Embedded….cpp> -DHEADER=<burn/Embedded….h>
#               -DSYMBOL=<kEmbedded…> -DWHAT=<words naming the file> [-DHINT=<advice>]
#               [-DMAX_BYTES=<n>] -P EmbedFirmware.cmake
# The source defines SYMBOL, SYMBOLLength and SYMBOLSha256, as HEADER declares them.
include("${CMAKE_CURRENT_LIST_DIR}/LoaderFileCheck.cmake")
tarvok_check_loader_file("${INPUT}" "${WHAT}" "${HINT}" size)
if(MAX_BYTES AND size GREATER MAX_BYTES)
  message(FATAL_ERROR "${WHAT} '${INPUT}' has ${size} bytes; at most ${MAX_BYTES} fit")
endif()
file(READ "${INPUT}" hex HEX)
file(SHA256 "${INPUT}" sha256)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time. Do not edit.
#include \"${HEADER}\"

namespace tarvok {

const uint8_t ${SYMBOL}[] = {
    ${bytes}
};
const uint32_t ${SYMBOL}Length = ${size};
const char ${SYMBOL}Sha256[] = \"${sha256}\";

}  // namespace tarvok
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
