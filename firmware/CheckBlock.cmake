# Checks the layout of the RAM loader block our firmware builds: "<<<RAM_BEGIN>>>" at offset
# 3088 and "<<<RAM_END>>>" at 3104, each followed by its terminating zero, and nothing after
# them but the zeros up to the next multiple of 4 bytes (3,120 bytes in all).
# Run as: cmake -DBLOCK=<loader.bin> -P CheckBlock.cmake
set(markers_end 3118)
math(EXPR block_bytes "(${markers_end} + 3) / 4 * 4")
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
math(EXPR padding "${block_bytes} - ${markers_end}")
file(READ "${BLOCK}" tail OFFSET ${markers_end} LIMIT ${padding} HEX)
if(NOT tail MATCHES "^(00)*$")
  message(FATAL_ERROR "${BLOCK} holds more than zeros after its markers")
endif()
