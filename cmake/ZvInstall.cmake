include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS zv_rsfec zvfec EXPORT zv_rsfecTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/zv_rsfec.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/zvfec DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

set(ZV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zv_rsfec)
install(EXPORT zv_rsfecTargets NAMESPACE zv_rsfec:: DESTINATION ${ZV_CMAKE_DIR})
configure_package_config_file(cmake/zv_rsfecConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zv_rsfecConfig.cmake INSTALL_DESTINATION ${ZV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zv_rsfecConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zv_rsfecConfig.cmake
  ${PROJECT_BINARY_DIR}/zv_rsfecConfigVersion.cmake DESTINATION ${ZV_CMAKE_DIR})

# pkg-config files beside the CMake package, for Meson and autotools projects:
# zv_rsfec.pc for the shared library, zvfec.pc for the static library with
# every layer (C++ inside, so it names the C++ runtime). Both find the prefix
# from their own place, so an installed tree may move.
file(RELATIVE_PATH ZV_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZV_PC_TO_PREFIX "${ZV_PC_TO_PREFIX}")
foreach(pc zv_rsfec zvfec)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
