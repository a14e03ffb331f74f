# Checks the layout of a RAM loader block: exactly 8,728 bytes, "<<<RAM_BEGIN>>>" at offset
# 3088 and "<<<RAM_END>>>" at 3104, each followed by its terminating zero.
# Run as: cmake -DBLOCK=<loader.bin> -P CheckBlock.cmake
file(SIZE "${BLOCK}" size)
if(NOT size EQUAL 8728)
  message(FATAL_ERROR "${BLOCK} has ${size} bytes, not 8728")
endif()
file(READ "${BLOCK}" begin_marker OFFSET 3088 LIMIT 16 HEX)
file(READ "${BLOCK}" end_marker OFFSET 3104 LIMIT 14 HEX)
string(HEX "<<<RAM_BEGIN>>>" wanted_begin)
string(HEX "<<<RAM_END>>>" wanted_end)
if(NOT begin_marker STREQUAL "${wanted_begin}00" OR NOT end_marker STREQUAL "${wanted_end}00")
  message(FATAL_ERROR "${BLOCK} does not hold the markers at offsets 3088 and 3104")
endif()
