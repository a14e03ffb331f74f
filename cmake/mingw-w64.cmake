# Cross-builds the Windows programs with mingw-w64 (posix thread model, for std::thread and
# the C++20 semaphores) and runs what is built under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A clean Windows has no libstdc++ or winpthread DLLs: link everything in, zlib too (Debian's
# libz-mingw-w64-dev ships no zlib1.dll to go with its import library).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

# Header-only libraries and GoogleTest come from the Debian packages, through small
# package files that never put the host's /usr/include on the cross compiler's path.
set(CLI11_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "")
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "")
set(tomlplusplus_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "")
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/windows" CACHE PATH "")

# Every run under Wine is bounded, whoever starts it.
find_program(TARVOK_WINE wine)
find_program(TARVOK_TIMEOUT timeout)
if(TARVOK_WINE AND TARVOK_TIMEOUT)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TARVOK_TIMEOUT};--kill-after=10;300;${TARVOK_WINE}")
endif()
