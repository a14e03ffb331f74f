# CLI11 (header-only) from the host's Debian package, for the Windows cross build.
if(NOT TARGET CLI11::CLI11)
  include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
  tarvok_stage_host_headers(CLI)
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                                "${TARVOK_HOST_HEADERS}")
endif()
set(CLI11_FOUND TRUE)
