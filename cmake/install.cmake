# What cmake --install puts into the GNU directories: the library with its
# soname link, the public headers in include/orkv14/, orkv14.pc and the CMake
# package (find_package(orkv14) gives orkv14::orkv14). kvmail and its manual
# page are installed by tools/kvmail. Components: runtime, dev, kvmail, as the
# Debian packages split them.
include(CMakePackageConfigHelpers)

install(TARGETS orkv14 EXPORT orkv14Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  # A shared object is mapped, never run.
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES include/orkv14.h include/kvcom.h include/orkv14.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orkv14 COMPONENT dev)

set(KV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orkv14)
install(EXPORT orkv14Targets NAMESPACE orkv14:: DESTINATION ${KV_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/orkv14Config.cmake.in ${PROJECT_BINARY_DIR}/orkv14Config.cmake
  INSTALL_DESTINATION ${KV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orkv14ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orkv14Config.cmake ${PROJECT_BINARY_DIR}/orkv14ConfigVersion.cmake
  DESTINATION ${KV_CMAKE_DIR} COMPONENT dev)

# orkv14.pc names the prefix, which is known only when installing
# (cmake --install --prefix, or /usr for cpack).
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KV_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KV_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
install(CODE "
  set(KV_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(KV_PC_LIBDIR [[${KV_PC_LIBDIR}]])
  set(KV_PC_INCLUDEDIR [[${KV_PC_INCLUDEDIR}]])
  set(PROJECT_VERSION ${PROJECT_VERSION})
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/orkv14.pc.in\" \"${PROJECT_BINARY_DIR}/orkv14.pc\" @ONLY)
" COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/orkv14.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
