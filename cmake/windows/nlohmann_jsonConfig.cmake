# nlohmann-json (header-only) from the host's Debian package, for the Windows cross build.
if(NOT TARGET nlohmann_json::nlohmann_json)
  include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
  tarvok_stage_host_headers(nlohmann)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                                                "${TARVOK_HOST_HEADERS}")
endif()
set(nlohmann_json_FOUND TRUE)
