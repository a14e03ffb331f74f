# Checks the layout of the RAM loader block our firmware builds: "<<<RAM_BEGIN>>>" at offset
# 3088 and "<<<RAM_END>>>" at 3104, each followed by its terminating zero, zeros up to the
# next multiple of 4 bytes (3,120), and then the loader's declaration as the last 16 bytes:
# "TVKLDECL", version 1, the features boot stage and flash CRC (0x03), six zeros (3,136 bytes
# in all).
# Run as: cmake -DBLOCK=<loader.bin> -P CheckBlock.cmake
set(markers_end 3118)
math(EXPR declaration_offset "(${markers_end} + 3) / 4 * 4")
math(EXPR block_bytes "${declaration_offset} + 16")
file(SIZE "${BLOCK}" size)
if(NOT size EQUAL block_bytes)
  message(FATAL_ERROR "${BLOCK} has ${size} bytes, not ${block_bytes}")
endif()
file(READ "${BLOCK}" begin_marker OFFSET 3088 LIMIT 16 HEX)
file(READ "${BLOCK}" end_marker OFFSET 3104 LIMIT 14 HEX)
string(HEX "<<<RAM_BEGIN>>>" wanted_begin)
string(HEX "<<<RAM_END>>>" wanted_end)
if(NOT begin_marker STREQUAL "${wanted_begin}00" OR NOT end_marker STREQUAL "${wanted_end}00")
  message(FATAL_ERROR "${BLOCK} does not hold the markers at offsets 3088 and 3104")
endif()
math(EXPR padding "${declaration_offset} - ${markers_end}")
file(READ "${BLOCK}" tail OFFSET ${markers_end} LIMIT ${padding} HEX)
if(NOT tail MATCHES "^(00)*$")
  message(FATAL_ERROR "${BLOCK} holds more than zeros between its markers and its declaration")
endif()
file(READ "${BLOCK}" declaration OFFSET ${declaration_offset} LIMIT 16 HEX)
string(HEX "TVKLDECL" magic)
if(NOT declaration STREQUAL "${magic}0103000000000000")
  message(FATAL_ERROR "${BLOCK} does not end with the declaration of version 1, features 0x03")
endif()
