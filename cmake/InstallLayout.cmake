# Where an installation puts the game. The ordinary layout keeps the programs in
# bin/ and the database in share/prozorometr; PZ_DEBIAN_LAYOUT follows Debian's
# games layout under /usr, for the package that debian/rules builds.
option(PZ_DEBIAN_LAYOUT "Install in Debian's games layout under /usr" OFF)

if(PZ_DEBIAN_LAYOUT)
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install path prefix" FORCE)
  endif()
  set(PZ_INSTALL_GAMEDIR games)
  set(PZ_INSTALL_GAMEDATADIR ${CMAKE_INSTALL_DATADIR}/games/prozorometr)
  # Debian wants every directory of a package at 0755, whatever the umask.
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
else()
  set(PZ_INSTALL_GAMEDIR ${CMAKE_INSTALL_BINDIR})
  set(PZ_INSTALL_GAMEDATADIR ${CMAKE_INSTALL_DATADIR}/prozorometr)
endif()
