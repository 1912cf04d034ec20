# Cross build of the Windows console program with MinGW-w64 (Debian g++-mingw-w64-x86-64-posix).
# The programs are linked statically so that each .exe runs alone; ctest runs them under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GRAYGIF_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GRAYGIF_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GRAYGIF_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GRAYGIF_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GRAYGIF_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C runtime's standard-conforming printf family (%lld, %zu, ...), as GCC's format checks expect.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# fast_float is header-only: the host's headers serve the target.
set(FastFloat_DIR ${CMAKE_CURRENT_LIST_DIR}/host-fast-float CACHE PATH "fast_float for cross builds")

find_program(GRAYGIF_WINE NAMES wine wine64)
if(GRAYGIF_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${GRAYGIF_WINE})
endif()
