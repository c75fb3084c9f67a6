# Cross-compiles for Windows x86-64 with Debian's mingw-w64 toolchain
# (g++-mingw-w64-x86-64-posix). The posix threads variant is the one whose C++
# runtime has std::thread, std::mutex and std::call_once.
#
# Programs built here run on the build host through Wine (wine64): CTest
# starts every test through cmake/wine-run.sh, which keeps a Wine prefix of
# its own under the build directory.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ZV_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZV_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${ZV_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Headers and libraries come from the target's sysroot only; build tools from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
    ${CMAKE_BINARY_DIR}/wine-prefix)
