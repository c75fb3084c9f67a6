# Cross-compiles for aarch64 Linux with Debian's cross toolchain
# (g++-aarch64-linux-gnu), whose C and C++ runtimes live under
# /usr/aarch64-linux-gnu.
#
# Programs built here run on the build host under qemu-user (qemu-aarch64),
# with the target's dynamic loader and libraries from that sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ZV_AARCH64_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ZV_AARCH64_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZV_AARCH64_TRIPLE}-g++)
set(CMAKE_AR ${ZV_AARCH64_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZV_AARCH64_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${ZV_AARCH64_TRIPLE}-nm CACHE FILEPATH "")

# Headers and libraries come from the target's sysroot, and from Debian's
# arm64 packages where the host has that architecture added (multiarch, in
# /usr/lib/aarch64-linux-gnu: Google Benchmark for the benchmarks); build
# tools from the host.
set(CMAKE_LIBRARY_ARCHITECTURE ${ZV_AARCH64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_AARCH64_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's dynamic loader would otherwise read the host's cache of library
# paths, which names Debian's arm64 C library where that architecture is
# added: the libraries of the loader's own sysroot come first.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${ZV_AARCH64_TRIPLE}
    -E LD_LIBRARY_PATH=/usr/${ZV_AARCH64_TRIPLE}/lib)
