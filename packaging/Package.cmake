# The Debian packages, one per install component: tarvok (`runtime`: the programs, their
# manual pages, desktop entries, icons and documents), tarvok-dev (`dev`: the library, its
# headers and package files) and, where python/ builds its module, python3-tarvok (`python`).
# Each is <name>_<version>_<arch>.deb; the dependencies of the programs and the module are
# worked out by dpkg-shlibdeps, the library's are named here. scripts/package builds them.
include(GNUInstallDirs)  # this runs in the top folder, after every other one

set(TARVOK_PACKAGE_MAINTAINER "Tarvok maintainers <maintainers@tarvok.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvok)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TARVOK_PACKAGE_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Each description's first line is its package's summary.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tarvok)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "burn flash images into TR7340 chips over a serial port
Tarvok wakes a TR7340 chip's boot ROM, downloads a small RAM loader into
the chip and streams a flash image into it in checked blocks at the fastest
rate the line allows.
.
The package holds the command line (tarvok), which burns one image into
several chips at once, the dialog for the bench (tarvok-gui), the station window
for a production line (tarvok-station), and a simulated chip on a pseudo-terminal
(tarvok-sim) to try them without hardware.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: Qt loads its platform plugins (xcb, wayland, offscreen) at
# run time, and without them the dialog cannot open a window. CPack puts these before the
# libraries dpkg-shlibdeps finds.
if(TARGET tarvok-gui)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/postinst")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME tarvok-dev)
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "burn TR7340 chips from a program of your own (development files)
Tarvok's burn engine as a static library (libtarvok.a) with its C++20
headers: a typed burn request handed to one function, which reports progress
and returns the outcome; the serial ports the machine has; flash images and
RAM loaders read from their files.
.
Programs include <tarvok/tarvok.h> and link through find_package(Tarvok)
(target Tarvok::tarvok) or pkg-config (tarvok). An example is in
/usr/share/doc/tarvok-dev/examples.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# What the library links, for the programs that link it.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS zlib1g-dev)

if(TARGET tarvok_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  add_dependencies(tarvok_package_files tarvok_python)
  tarvok_package_documents(python python3-tarvok)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarvok)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "burn TR7340 chips from Python
Tarvok's burn engine as a Python 3 module (tarvok): a burn request, its
progress and its outcome, the serial ports the machine has, and flash images
read from their files.")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS python3)
endif()
include(CPack)
