# CLI11 (header-only) from the host's Debian package, for the Windows cross build.
include("${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake")
tarvok_import_host_headers(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
