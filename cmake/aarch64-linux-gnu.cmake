# 64-bit ARM Linux (Debian's arm64): g++-aarch64-linux-gnu, run under
# qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ostrevane_cross_triplet aarch64-linux-gnu)
set(ostrevane_cross_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
