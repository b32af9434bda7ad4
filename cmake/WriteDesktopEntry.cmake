# Run while installing: writes the menu entry with the launcher's full installed
# path, which only then is known (cmake --install --prefix may change it).
# Expects PZ_DESKTOP_TEMPLATE, PZ_DESKTOP_OUTPUT and PZ_INSTALL_GAMEDIR.
set(PZ_LAUNCHER "${CMAKE_INSTALL_PREFIX}/${PZ_INSTALL_GAMEDIR}/prozorometr-play")
if(PZ_LAUNCHER MATCHES "[ \t\"'\\\\$`<>|&;()*?#~]")
  message(FATAL_ERROR "the menu entry cannot name a launcher at ${PZ_LAUNCHER}; choose a plainer prefix")
endif()
configure_file("${PZ_DESKTOP_TEMPLATE}" "${PZ_DESKTOP_OUTPUT}" @ONLY)
