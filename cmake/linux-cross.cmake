# Cross build for Linux on another processor with Debian's cross compiler (g++-<triplet>),
# included by <triplet>.cmake after it sets GRAYGIF_CROSS_TRIPLET and GRAYGIF_QEMU_NAME. The
# programs are linked statically, so that qemu-user runs them without the target's libraries;
# ctest runs them under qemu.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${GRAYGIF_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GRAYGIF_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${GRAYGIF_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# fast_float is header-only: the host's headers serve the target.
set(FastFloat_DIR ${CMAKE_CURRENT_LIST_DIR}/host-fast-float CACHE PATH "fast_float for cross builds")

find_program(GRAYGIF_QEMU NAMES ${GRAYGIF_QEMU_NAME} ${GRAYGIF_QEMU_NAME}-static)
if(GRAYGIF_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${GRAYGIF_QEMU})
endif()
