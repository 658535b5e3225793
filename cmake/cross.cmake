# The part every cross toolchain file shares. The including file sets
# TEKO_CROSS_TRIPLET (the GNU triplet, which is also Debian's multiarch
# folder name), TEKO_CROSS_PROCESSOR and TEKO_CROSS_QEMU (the qemu-user
# program that runs the target's code here).
#
# The target's libraries come either from Debian's multiarch packages
# installed on this machine (/usr/lib/TRIPLET, /usr/include), or, with
# -DTEKO_SYSROOT=DIR, from a folder the target's packages were unpacked into
# (`dpkg -x`); scripts/cross.sh sets up either.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TEKO_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${TEKO_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TEKO_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TEKO_CROSS_TRIPLET})
# GCC notes that the ARM calling convention of some std::vector members
# changed in GCC 7.1; nothing here is linked against code that old.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
# The toolchain file is read again for every try_compile.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TEKO_SYSROOT)

if(TEKO_SYSROOT)
  # The compiler keeps its own C library and C++ headers (they come first)
  # and finds the unpacked -dev packages' headers and libraries after them.
  set(CMAKE_SYSROOT ${TEKO_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${TEKO_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${TEKO_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR}
      "${TEKO_SYSROOT}/usr/lib/${TEKO_CROSS_TRIPLET}/pkgconfig:${TEKO_SYSROOT}/usr/share/pkgconfig")
  # The dynamic loader and every library of the target, for qemu-user.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TEKO_CROSS_QEMU} -L ${TEKO_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
else()
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TEKO_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
  # Multiarch puts the target's dynamic loader and libraries at the paths
  # the target's programs name.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TEKO_CROSS_QEMU})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
