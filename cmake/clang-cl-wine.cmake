# Microsoft's dialect, checked on Linux: clang-cl compiles every source of
# the Windows build as Visual Studio would be given it (the project's /W4
# /permissive- and, in the clang-cl preset, /WX), for x86-64 Windows with
# Microsoft's ABI, against Wine's Windows and C run-time headers
# (libwine-dev) and libc++'s headers (libc++-dev). It compiles only: there
# is no Windows SDK or Microsoft run-time here to link with, so executables
# are not linked (clang-cl-wine/compile_only.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# Debian installs clang-cl as clang-cl-<version> and in its LLVM folder.
file(GLOB ostrevane_llvm_bins /usr/lib/llvm-*/bin)
list(REVERSE ostrevane_llvm_bins)
find_program(OSTREVANE_CLANG_CL NAMES clang-cl HINTS ${ostrevane_llvm_bins} REQUIRED)
set(CMAKE_C_COMPILER ${OSTREVANE_CLANG_CL})
set(CMAKE_CXX_COMPILER ${OSTREVANE_CLANG_CL})
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
get_filename_component(ostrevane_llvm_bin ${OSTREVANE_CLANG_CL} REALPATH)
get_filename_component(ostrevane_llvm_bin ${ostrevane_llvm_bin} DIRECTORY)
find_program(CMAKE_AR NAMES llvm-lib HINTS ${ostrevane_llvm_bin} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc HINTS ${ostrevane_llvm_bin} REQUIRED)

# System headers, in this order: the C++ library (the one of this clang),
# the C run-time, Windows. Wine 8's C run-time headers lack a few things
# libc++ expects; clang-cl-wine/wine_gaps.h declares them, for this check
# alone.
set(ostrevane_wine_include /usr/include/wine/wine)
set(ostrevane_system_includes
    "/imsvc ${ostrevane_wine_include}/msvcrt /imsvc ${ostrevane_wine_include}/windows")
set(CMAKE_C_FLAGS_INIT "${ostrevane_system_includes}")
set(CMAKE_CXX_FLAGS_INIT "/imsvc ${ostrevane_llvm_bin}/../include/c++/v1 ${ostrevane_system_includes} \
/FI${CMAKE_CURRENT_LIST_DIR}/clang-cl-wine/wine_gaps.h")
# The version resources include Windows' winver.h.
set(CMAKE_RC_FLAGS_INIT "/I ${ostrevane_wine_include}/windows")

# Nothing is linked: CMake's own checks make static libraries instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/clang-cl-wine/compile_only.cmake)
