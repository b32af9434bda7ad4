# The Windows package: `cpack -G ZIP` in a Windows build makes
# prozorometr-<version>-win64.zip with one flat folder holding the game, its
# launcher, the question database, the checker, the database builder pzbank, a
# short README (Russian and English) and the licence. Only the "windows" install component goes in.
install(TARGETS prozorometr pzcheck pzbank RUNTIME DESTINATION . COMPONENT windows)
install(FILES ${CMAKE_BINARY_DIR}/pz2004.db
              ${PROJECT_SOURCE_DIR}/windows/prozorometr.cmd
              ${PROJECT_SOURCE_DIR}/windows/README.txt
        DESTINATION . COMPONENT windows)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME prozorometr)
set(CPACK_PACKAGE_VENDOR "KWRM & GMPF")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Prozorometr-2004, a humorous two-part test in Russian")
set(CPACK_PACKAGE_FILE_NAME prozorometr-${PROJECT_VERSION}-win64)
# Only the windows component: the other install rules lay out a POSIX tree.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};windows;/")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)  # unpacks into prozorometr-<version>-win64\
set(CPACK_STRIP_FILES ON)                 # the debugging symbols would triple the size
include(CPack)
