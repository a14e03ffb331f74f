# The Debian package: tarvok_<version>_<arch>.deb, its dependencies worked out by
# dpkg-shlibdeps from the programs' libraries, plus Qt's platform plugins. scripts/package
# builds it.
set(TARVOK_PACKAGE_MAINTAINER "Tarvok maintainers <maintainers@tarvok.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvok)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TARVOK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "burn flash images into TR7340 chips over a serial port")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tarvok wakes a TR7340 chip's boot ROM, downloads a small RAM loader into
the chip and streams a flash image into it in checked blocks at the fastest
rate the line allows.
.
The package holds the command line (tarvok), which burns one image into
several chips at once, the dialog for the bench (tarvok-gui), the station window
for a production line (tarvok-station), and a simulated chip on a pseudo-terminal
(tarvok-sim) to try them without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: Qt loads its platform plugins (xcb, wayland, offscreen) at
# run time, and without them the dialog cannot open a window. CPack puts these before the
# libraries dpkg-shlibdeps finds.
if(TARGET tarvok-gui)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_SOURCE_DIR}/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
