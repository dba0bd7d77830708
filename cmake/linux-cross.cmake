# Cross-compiling for an ARM Linux with Debian's cross compiler and that
# architecture's libraries installed beside the host's (multiarch:
# scripts/deps.sh arm64 or armhf adds the architecture and installs both),
# or in a sysroot (OSTREVANE_CROSS_SYSROOT, below).
# Included by the architecture's own toolchain file, which sets
# CMAKE_SYSTEM_PROCESSOR, ostrevane_cross_triplet (the GNU triplet, also the
# multiarch folder's name) and ostrevane_cross_qemu (its qemu-user program).
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${ostrevane_cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${ostrevane_cross_triplet}-g++)
# Multiarch: the libraries live in /usr/lib/<triplet>, their headers in
# /usr/include beside the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${ostrevane_cross_triplet})

# Libraries and pkg-config files of the target only; programs
# (wayland-scanner, CMake's helpers, the host's render tool for the icons)
# from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_PATH} "")

# OSTREVANE_CROSS_SYSROOT: the target's libraries in a folder of their own
# instead (scripts/deps.sh <arch>-sysroot makes build/sysroot-<arch>).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTREVANE_CROSS_SYSROOT)
if(OSTREVANE_CROSS_SYSROOT)
  set(ostrevane_cross_root ${OSTREVANE_CROSS_SYSROOT})
  set(CMAKE_SYSROOT ${OSTREVANE_CROSS_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH ${OSTREVANE_CROSS_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${OSTREVANE_CROSS_SYSROOT})
else()
  set(ostrevane_cross_root /)
  set(CMAKE_FIND_ROOT_PATH /usr/${ostrevane_cross_triplet})
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${OSTREVANE_CROSS_SYSROOT}/usr/lib/${ostrevane_cross_triplet}/pkgconfig:${OSTREVANE_CROSS_SYSROOT}/usr/share/pkgconfig)

# The programs run here under user-mode emulation (Debian's qemu-user), on
# the target system's own loader and libraries (the multiarch libc6, as on
# a Raspberry Pi, or the sysroot's). Not with -L /usr/<triplet>: that loader
# is the cross toolchain's C library, of another build than the libc.so.6
# it then loads, and the first pthread_create (libdecor's) never returns.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ostrevane_cross_qemu} -L ${ostrevane_cross_root})
