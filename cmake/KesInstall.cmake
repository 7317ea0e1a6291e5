include(CMakePackageConfigHelpers)

set(kes_install_targets keshost pellib kes)
if(TARGET kestester)
  list(APPEND kes_install_targets kestester)
endif()

install(TARGETS ${kes_install_targets} EXPORT kesTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

foreach(dir host pellib kes tester)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir}
            FILES_MATCHING PATTERN "*.h"
            PATTERN "internal" EXCLUDE)
  endif()
endforeach()

install(EXPORT kesTargets NAMESPACE kes::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kes)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kesConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kesConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kes)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kesConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kesConfig.cmake
              ${CMAKE_BINARY_DIR}/kesConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kes)

# The prefix is found from the .pc file's own place, so that an install to any
# --prefix gives the right flags.
file(RELATIVE_PATH KES_PC_TO_PREFIX
     "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" KES_PC_TO_PREFIX "${KES_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kes.pc.in ${CMAKE_BINARY_DIR}/kes.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kes.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
