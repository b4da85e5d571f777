# The Debian package: `cpack -G DEB` in a build folder (scripts/package does the whole job).
# Its dependencies come from the programs' shared libraries (dpkg-shlibdeps), plus what
# they load at run time. It carries no QQWry.dat and runs no maintainer scripts.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrel developers <ostrel@ostrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find suspicious attack requests in web-server access logs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ostrel reads IIS W3C, Tomcat/Weblogic and Apache/Nginx access logs, writes each\n"
    "client's location from the offline IP database QQWry.dat after its address, and\n"
    "writes every request that matches one of its attack patterns to a result file.\n"
    "It comes as a Qt desktop window (ostrel) and a command line (ostrel-cli).\n"
    "QQWry.dat is not part of the package: see ostrel-cli(1), FILES.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# https updates need the certificate store; nothing links it.
set(ostrel_depends ca-certificates)
if(OSTREL_BUILD_GUI)
  # Qt loads its display plugin (xcb, wayland) at run time, so no library names it.
  list(APPEND ostrel_depends qt6-qpa-plugins)
  # The window's texts are Chinese.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei, qt6-translations-l10n")
endif()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${ostrel_depends}")
include(CPack)
