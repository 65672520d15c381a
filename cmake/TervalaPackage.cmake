# Debian packages of the install layout, made by CPack from a built tree:
#   cpack --config build/CPackConfig.cmake -B <folder>    (tools/package.sh)
# tervalapro carries the program and everything a desktop needs of it;
# tervala-standin the stand-in service, so that a machine with the real
# service never gets it. Both are installed under /usr whatever the tree was
# configured for: the program finds its pictures and translations relative to
# its own folder.
set(TERVALA_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/resources/linux/debian)

# Debian's documentation folder of each package: copyright and changelog.
find_program(TERVALA_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
  COMMAND ${TERVALA_GZIP} -9n -c ${TERVALA_DEBIAN_DIR}/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${TERVALA_DEBIAN_DIR}/changelog
  VERBATIM)
add_custom_target(tervala_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
foreach(component tervalapro standin)
  set(package ${component})
  if(component STREQUAL standin)
    set(package tervala-standin)
  endif()
  install(FILES ${TERVALA_DEBIAN_DIR}/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
    EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tervalapro)
set(CPACK_PACKAGE_VENDOR Quornix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The install runs with DESTDIR, so the autostart entry's absolute /etc lands
# in the package and the live caches are left to dpkg's triggers.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tervalapro standin)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quornix Tervala Pro team <tervalapro@quornix.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Both come from one source tree and share its changelog.
set(CPACK_DEBIAN_PACKAGE_SOURCE tervalapro)
# Dependencies come from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TERVALAPRO_PACKAGE_NAME tervalapro)
set(CPACK_DEBIAN_TERVALAPRO_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TERVALAPRO_DESCRIPTION
  "tray program for the Tervala private peer-to-peer network service
Tervala Pro is the desktop front end of the Tervala service. From its icon in
the notification area a user creates a private network and its
password-protected invitation file, joins a network from such a file, lists
and re-exports the networks created on this computer, and watches the running
networks and their peers.
.
The Tervala service itself is packaged separately.")
# Qt's own texts (buttons, file dialogs) in the user's language; Remote
# Desktop networks start one of these clients.
set(CPACK_DEBIAN_TERVALAPRO_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_TERVALAPRO_PACKAGE_SUGGESTS "freerdp2-x11 | remmina")
# Files under /etc are the administrator's: dpkg keeps their changes.
set(CPACK_DEBIAN_TERVALAPRO_PACKAGE_CONTROL_EXTRA ${TERVALA_DEBIAN_DIR}/conffiles)

set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME tervala-standin)
set(CPACK_DEBIAN_STANDIN_PACKAGE_SECTION net)
set(CPACK_COMPONENT_STANDIN_DESCRIPTION
  "stand-in for the Tervala service, for demonstrations and tests
tervala-standin plays the Tervala service's side of the local channel to the
Tervala Pro tray program on one machine, so that the program can be run,
demonstrated and tested without the real service. It is not a network
service: networks and peers exist only as far as it is told about them.
.
A systemd user unit, not enabled by default, keeps it running for one user.")
set(CPACK_DEBIAN_STANDIN_PACKAGE_SUGGESTS tervalapro)

include(CPack)
