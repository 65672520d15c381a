# Install layout for a desktop: the two programs, their pictures and
# translations, the menu entry with its icons, the invitation file type, the
# software-centre description, the manual pages and the logon autostart entry.
# Two components, so that the package of the stand-in is a separate one:
# tervalapro (the default) and standin.
include(GNUInstallDirs)

set(TERVALA_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/linux)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tervalapro)

# A folder that has not landed yet has no target; the install check then
# reports the missing program instead of configure failing for everyone.
if(TARGET tervalapro)
  install(TARGETS tervalapro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tervalapro)
endif()
if(TARGET tervala-standin)
  install(TARGETS tervala-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT standin)
endif()

# The program looks for its pictures (and translations) in share/tervalapro
# beside its own prefix, then in TERVALA_DATADIR, both spelled
# <prefix>/share/tervalapro whatever the data folder is called, so the
# pictures follow that spelling, not CMAKE_INSTALL_DATADIR.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/images ${PROJECT_SOURCE_DIR}/icons
  DESTINATION share/tervalapro)

install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# The program icon and the invitation file type's icon, rendered from their
# SVG sources by tools/make-icons.sh.
install(DIRECTORY ${TERVALA_DESKTOP_DIR}/icons/hicolor
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${TERVALA_DESKTOP_DIR}/com.quornix.tervalapro.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages go out compressed, as Debian's policy wants them.
find_program(TERVALA_GZIP gzip REQUIRED)
set(manpages)
foreach(page tervalapro tervala-standin)
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${TERVALA_GZIP} -9n -c ${TERVALA_DESKTOP_DIR}/man/${page}.1 > ${compressed}
    DEPENDS ${TERVALA_DESKTOP_DIR}/man/${page}.1
    VERBATIM)
  list(APPEND manpages ${compressed})
endforeach()
add_custom_target(tervala_manpages ALL DEPENDS ${manpages})
install(FILES ${PROJECT_BINARY_DIR}/man/tervalapro.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tervalapro)
install(FILES ${PROJECT_BINARY_DIR}/man/tervala-standin.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT standin)

# A user unit that keeps the stand-in running on a demonstration machine; it
# is not enabled by installing it.
install(FILES ${TERVALA_DESKTOP_DIR}/tervala-standin.service
  DESTINATION lib/systemd/user COMPONENT standin)

# Desktops read /etc/xdg/autostart. A relative folder lies under the prefix
# installed to, so that a staged install (--prefix, DESTDIR) never writes into
# the live /etc, except that GNU's rule for the configuration folder applies
# when installing to /usr (as a package does): <prefix>/etc becomes /etc. The
# prefix is the one of the install, not of configure, because a package is
# made from a tree configured for /usr/local.
set(TERVALA_AUTOSTART_DIR ${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart CACHE STRING
  "Folder for the logon autostart entry, relative to the prefix unless absolute")
install(CODE "set(TERVALA_AUTOSTART_DIR \"${TERVALA_AUTOSTART_DIR}\")
  set(TERVALA_AUTOSTART_ENTRY \"${TERVALA_DESKTOP_DIR}/tervalapro-autostart.desktop\")"
  COMPONENT tervalapro)
install(CODE [[
  set(autostart "${TERVALA_AUTOSTART_DIR}")
  if(NOT IS_ABSOLUTE "${autostart}")
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND autostart MATCHES "^etc/")
      set(autostart "/${autostart}")
    else()
      set(autostart "${CMAKE_INSTALL_PREFIX}/${autostart}")
    endif()
  endif()
  file(INSTALL DESTINATION "${autostart}" TYPE FILE FILES "${TERVALA_AUTOSTART_ENTRY}")
]] COMPONENT tervalapro)

# Desktops read the file type and the handler from caches, so a live install
# refreshes them; a staged one (DESTDIR) leaves that to the package's own
# triggers.
install(CODE "set(TERVALA_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")" COMPONENT tervalapro)
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    set(share "${TERVALA_INSTALL_DATADIR}")
    if(NOT IS_ABSOLUTE "${share}")
      set(share "${CMAKE_INSTALL_PREFIX}/${share}")
    endif()
    find_program(TERVALA_UPDATE_MIME update-mime-database)
    find_program(TERVALA_UPDATE_DESKTOP update-desktop-database)
    if(TERVALA_UPDATE_MIME)
      message(STATUS "Updating ${share}/mime")
      execute_process(COMMAND ${TERVALA_UPDATE_MIME} "${share}/mime")
    endif()
    if(TERVALA_UPDATE_DESKTOP)
      message(STATUS "Updating ${share}/applications")
      execute_process(COMMAND ${TERVALA_UPDATE_DESKTOP} "${share}/applications")
    endif()
  endif()
]] COMPONENT tervalapro)
