# The player's side of an installation: the launcher, which keeps each user's play
# folder and runs the game under luit where the terminal needs it, and the manual.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/prozorometr-play DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/prozorometr.6 ${PROJECT_SOURCE_DIR}/doc/prozorometr-play.6
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# The launcher finds the game beside itself and the database in ../share/prozorometr.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(WARNING "prozorometr-play expects bin/ and share/ side by side; set PROZOROMETR_GAME "
                  "and PROZOROMETR_DB for it, or keep the default install directories")
endif()
