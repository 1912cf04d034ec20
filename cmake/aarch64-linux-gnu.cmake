# Linux on 64-bit ARM (little-endian), Debian g++-aarch64-linux-gnu; run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GRAYGIF_CROSS_TRIPLET aarch64-linux-gnu)
set(GRAYGIF_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
