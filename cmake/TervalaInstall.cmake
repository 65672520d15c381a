# Install layout for a desktop: the two programs, their pictures, the menu
# entry with its icon, the invitation file type and the logon autostart entry.
include(GNUInstallDirs)

set(TERVALA_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/linux)

# A folder that has not landed yet has no target; the install check then
# reports the missing program instead of configure failing for everyone.
foreach(program tervalapro tervala-standin)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The program looks for its pictures in TERVALA_DATADIR, which is spelled
# <prefix>/share/tervalapro in TervalaCommon.cmake whatever the data folder is
# called, so the pictures follow that spelling, not CMAKE_INSTALL_DATADIR.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/images ${PROJECT_SOURCE_DIR}/icons
  DESTINATION share/tervalapro PATTERN src EXCLUDE)

install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)

# Relative to the prefix so that a staged install (--prefix, DESTDIR) never
# writes into the live /etc. Desktops read /etc/xdg/autostart; a package for
# prefix /usr sets this to /etc/xdg/autostart.
set(TERVALA_AUTOSTART_DIR ${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart CACHE STRING
  "Folder for the logon autostart entry, relative to the prefix unless absolute")
install(FILES ${TERVALA_DESKTOP_DIR}/tervalapro-autostart.desktop
  DESTINATION ${TERVALA_AUTOSTART_DIR})

# Desktops read the file type and the handler from caches, so a live install
# refreshes them; a staged one (DESTDIR) leaves that to the package's own
# triggers.
install(CODE "set(TERVALA_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")")
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
]])
