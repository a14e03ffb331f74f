# The Windows build's tests, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR): the portable
# unit tests as built by mingw-w64, and the Win32 layers against the real Win32 calls. One
# Wine process per program: a process start costs far more there than the tests in it.
# tests/CMakeLists.txt defines tarvok_unit_tests for both systems.
add_test(NAME windows_unit_tests COMMAND tarvok_unit_tests)

add_executable(tarvok_win32_tests
  windows/Win32PortDiscoveryTest.cpp
  windows/Win32SerialDeviceTest.cpp
)
target_link_libraries(tarvok_win32_tests PRIVATE tarvok_serial_platform tarvok_warnings
                                                 GTest::gtest_main)
add_test(NAME windows_win32_tests COMMAND tarvok_win32_tests)
set_tests_properties(windows_unit_tests windows_win32_tests PROPERTIES TIMEOUT 300)

# The windows worked as a user would, run by scripts/test-windows and scripts/screenshot under
# Wine with the simulated chip and fixtures behind Wine COM ports; never in the Windows zip.
# Each carries the shipped program's resources (its dialog template, icon and manifest).
enable_language(RC)
set(win32_sources "${PROJECT_SOURCE_DIR}/app/win32")
add_executable(tarvok-gui-test WIN32
  windows/DialogBurnTest.cpp
  windows/DialogBurnDriver.cpp
  windows/ScreenPicture.cpp
  "${win32_sources}/tarvok.rc"
)
target_include_directories(tarvok-gui-test PRIVATE ${PROJECT_SOURCE_DIR} "${TARVOK_WIN32_MANIFEST_DIR}")
target_link_libraries(tarvok-gui-test PRIVATE tarvok_win32_dialog tarvok_warnings)

find_package(CLI11 CONFIG REQUIRED)
add_executable(tarvok-station-test WIN32
  windows/StationWindowTest.cpp
  windows/StationWindowDriver.cpp
  windows/ScreenPicture.cpp
  "${win32_sources}/station/tarvok-station.rc"
)
target_include_directories(tarvok-station-test PRIVATE ${PROJECT_SOURCE_DIR}
                                                       "${TARVOK_WIN32_MANIFEST_DIR}"
                                                       "${win32_sources}")
target_link_libraries(tarvok-station-test PRIVATE tarvok_win32_station
                                                  CLI11::CLI11 tarvok_warnings)
