# The player's side of an installation: the launcher, which keeps each user's play
# folder and runs the game under luit where the terminal needs it, the manual, the
# menu entry and what software centres show. The Debian package (debian/) ships
# whatever is installed here; it compresses the manual and adds the copyright and
# the changelog itself.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/prozorometr-play DESTINATION ${PZ_INSTALL_GAMEDIR})

set(PZ_MAN_PAGES prozorometr.6 prozorometr-play.6 pzbank.6 pzcheck.6)
list(TRANSFORM PZ_MAN_PAGES PREPEND ${PROJECT_SOURCE_DIR}/doc/)
install(FILES ${PZ_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

install(CODE "
  set(PZ_DESKTOP_TEMPLATE [[${PROJECT_SOURCE_DIR}/desktop/prozorometr.desktop.in]])
  set(PZ_DESKTOP_OUTPUT [[${CMAKE_BINARY_DIR}/prozorometr.desktop]])
  set(PZ_INSTALL_GAMEDIR [[${PZ_INSTALL_GAMEDIR}]])
  include([[${PROJECT_SOURCE_DIR}/cmake/WriteDesktopEntry.cmake]])")
install(FILES ${CMAKE_BINARY_DIR}/prozorometr.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/prozorometr.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/example.c_seed_5b52a9cb.prozorometr.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The launcher finds the game beside itself and the database in ../share/prozorometr
# or ../share/games/prozorometr.
if(NOT PZ_DEBIAN_LAYOUT AND (NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share"))
  message(WARNING "prozorometr-play expects bin/ and share/ side by side; set PROZOROMETR_GAME "
                  "and PROZOROMETR_DB for it, or keep the default install directories")
endif()
