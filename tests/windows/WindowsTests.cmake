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
