# How a cross build for Windows runs the programs it makes (pzbank for the
# database, the checker and the tests): through Wine's loader, in a Wine prefix of
# the build's own, with Wine's own chatter and first-start installers kept quiet.
# PZ_RUNNER and PZ_WINE_ENVIRONMENT are what the Python tests need to do the same.
set(PZ_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix in which the built programs run")
set(PZ_WINE_ENVIRONMENT "WINEPREFIX=${PZ_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "no Wine loader found: the Windows programs cannot run here, and neither can the "
                  "question database be built nor the tests run (apt-get install wine64)")
  set(PZ_RUNNER "")
  return()
endif()
set(PZ_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR})
# Targets made from here on take this as their emulator: add_test, the test
# discovery of GoogleTest and the database build all go through it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${PZ_WINE_ENVIRONMENT} ${PZ_RUNNER})

# Registers name as a test that cannot run under Wine: it prints why and exits 77,
# which ctest counts as skipped, never as passed. Label not_under_wine, so that
# `ctest -L not_under_wine -V` shows every reason.
function(pz_not_under_wine name reason)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} -c "print('not run under Wine: ${reason}'); raise SystemExit(77)")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS not_under_wine)
endfunction()

# Writes an executable shell script at path that runs target through Wine with
# its arguments: for the Python tests that take a program's path.
function(pz_wine_wrapper path target)
  string(JOIN "' '" quoted ${CMAKE_CROSSCOMPILING_EMULATOR})
  file(GENERATE OUTPUT ${path}
       CONTENT "#!/bin/sh\nexec '${quoted}' '$<TARGET_FILE:${target}>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()
