# Debian's armhf port: cross compiler g++-arm-linux-gnueabihf, run here under qemu-arm.
set(TEKO_CROSS_TRIPLET arm-linux-gnueabihf)
set(TEKO_CROSS_PROCESSOR arm)
set(TEKO_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
