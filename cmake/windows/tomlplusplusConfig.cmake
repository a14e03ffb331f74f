# toml++ (header-only) from the host's Debian package, for the Windows cross build.
include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
tarvok_import_host_headers(tomlplusplus::tomlplusplus toml++)
set_target_properties(tomlplusplus::tomlplusplus PROPERTIES INTERFACE_COMPILE_DEFINITIONS
                                                            TOML_HEADER_ONLY=1)
set(tomlplusplus_FOUND TRUE)
