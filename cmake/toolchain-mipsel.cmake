# Debian's mipsel port: cross compiler g++-mipsel-linux-gnu, run here under qemu-mipsel.
set(TEKO_CROSS_TRIPLET mipsel-linux-gnu)
set(TEKO_CROSS_PROCESSOR mipsel)
set(TEKO_CROSS_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
