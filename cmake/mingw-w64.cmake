# Cross build for 64-bit Windows with the MinGW-w64 compilers of Debian
# (g++-mingw-w64-x86-64-posix). Programs are linked statically, so the game needs
# nothing beside it but KERNEL32 and msvcrt; built programs run under Wine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PZ_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix variants carry the threads model that std::thread and friends need.
set(CMAKE_C_COMPILER ${PZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PZ_MINGW_PREFIX}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Headers and libraries come from the MinGW tree only; programs run at build time
# (Python, the shell) from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${PZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here (pzbank for the database, the tests) run through
# Wine's loader; `wine64` on PATH is not always there.
find_program(PZ_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PZ_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PZ_WINE_LOADER})
endif()
