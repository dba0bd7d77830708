# Cross-compiling for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 libraries installed beside the host's
# (dpkg --add-architecture arm64; scripts/deps.sh arm64 does both).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Multiarch: the arm64 libraries live in /usr/lib/aarch64-linux-gnu, their
# headers in /usr/include beside the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Libraries and pkg-config files of arm64 only; programs (wayland-scanner,
# CMake's helpers, the host's render tool for the icons) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The arm64 programs run here under user-mode emulation (Debian's qemu-user),
# on the arm64 system's own loader and libraries (libc6:arm64, as on a
# Raspberry Pi). Not with -L /usr/aarch64-linux-gnu: that loader is the cross
# toolchain's C library, of another build than the multiarch libc.so.6 it
# then loads, and the first pthread_create (libdecor's) never returns.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
