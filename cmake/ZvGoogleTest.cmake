# GoogleTest for the test programs, as the targets GTest::gtest and
# GTest::gtest_main. A native build uses the installed package. A cross build
# cannot link the host's prebuilt libraries, so it compiles GoogleTest with the
# cross compiler from the sources that Debian's googletest package installs.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
  return()
endif()

set(ZV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources compiled for cross builds (Debian package googletest)")
if(NOT EXISTS ${ZV_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZV_GTEST_SOURCE_DIR}: "
                      "install the Debian package googletest")
endif()

# Only the gtest libraries; nothing of them is installed with the project.
set(BUILD_GMOCK OFF CACHE BOOL "Build GoogleMock with the cross build")
set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest with the project")
# Our warning flags must not reach into GoogleTest's headers: SYSTEM includes.
add_subdirectory(${ZV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
