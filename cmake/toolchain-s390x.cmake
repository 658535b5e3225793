# Debian's s390x port: cross compiler g++-s390x-linux-gnu, run here under qemu-s390x.
set(TEKO_CROSS_TRIPLET s390x-linux-gnu)
set(TEKO_CROSS_PROCESSOR s390x)
set(TEKO_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
