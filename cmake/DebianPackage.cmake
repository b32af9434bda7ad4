# The Debian package. In a tree configured with PZ_DEBIAN_LAYOUT, `cpack -G DEB`
# makes prozorometr_<version>_<arch>.deb; scripts/package.sh does all of it.
# Manual pages and the changelog go in compressed, as Debian wants (gzip -9n).

file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog PZ_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT PZ_CHANGELOG_TOP MATCHES "^prozorometr \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "doc/changelog must begin with an entry for version ${PROJECT_VERSION}")
endif()

# Compresses doc/NAME into gz/NAME.gz in the build folder; sets VAR to its path.
function(pz_gzip_doc name var)
  set(copy ${CMAKE_BINARY_DIR}/gz/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/${name} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/${name}
    VERBATIM)
  set(${var} ${copy}.gz PARENT_SCOPE)
endfunction()

set(PZ_GZIPPED_PAGES)
foreach(page IN LISTS PZ_MAN_PAGES)
  pz_gzip_doc(${page} gzipped)
  list(APPEND PZ_GZIPPED_PAGES ${gzipped})
endforeach()
pz_gzip_doc(changelog PZ_GZIPPED_CHANGELOG)
add_custom_target(debian_docs ALL DEPENDS ${PZ_GZIPPED_PAGES} ${PZ_GZIPPED_CHANGELOG})

install(FILES ${PZ_GZIPPED_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright ${PZ_GZIPPED_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME prozorometr)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME prozorometr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Prozorometr maintainers <maintainers@users.noreply.c-seed-5b52a9cb.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "humorous two-part test of intellect and character, in Russian")
set(CPACK_PACKAGE_DESCRIPTION "Prozorometr-2004 greets the player, asks a name, puts 25 multiple-choice
questions of general knowledge and 10 about everyday situations, and ends
with a tongue-in-cheek verdict on the player's intellect and character.
Each player's profile is kept from game to game.

The game speaks Windows-1251; on other terminals its launcher runs it
under luit.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# luit shows the game on UTF-8 terminals. Debian 12 has it as a package of its
# own, with its encoding tables and needing only libc; x11-utils still carried
# it there (and conflicts with that package), but converts Windows-1251 only
# with the tables of xfonts-encodings.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "luit | x11-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xfonts-encodings")
# The menu entry's launcher path is written while installing, so the staging
# install must see the real prefix, with the staging folder as DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
include(CPack)
