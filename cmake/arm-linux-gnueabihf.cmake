# 32-bit ARM Linux with hardware floating point (Debian's armhf: ARMv7,
# VFPv3-D16 doubles, Thumb-2): g++-arm-linux-gnueabihf, run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ostrevane_cross_triplet arm-linux-gnueabihf)
set(ostrevane_cross_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
