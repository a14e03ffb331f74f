# nlohmann-json (header-only) from the host's Debian package, for the Windows cross build.
include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
tarvok_import_host_headers(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_FOUND TRUE)
