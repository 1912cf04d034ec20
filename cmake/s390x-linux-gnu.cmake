# Linux on IBM Z (big-endian), Debian g++-s390x-linux-gnu; run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(GRAYGIF_CROSS_TRIPLET s390x-linux-gnu)
set(GRAYGIF_QEMU_NAME qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
