# Installed: the two programs, their manual pages, and the reader library
# with its one public header, a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(quiver_reader PROPERTIES EXPORT_NAME reader OUTPUT_NAME quiver_reader)
set_target_properties(quiver_common PROPERTIES EXPORT_NAME common)

install(TARGETS quiver quiverx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quiver_reader quiver_common EXPORT quiverTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES extractor/include/quiver/reader.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quiver)
install(FILES man/quiver.1 man/quiverx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quiver)
install(EXPORT quiverTargets NAMESPACE quiver:: DESTINATION ${config_dir})
configure_package_config_file(cmake/quiverConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quiverConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quiverConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quiverConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/quiverConfigVersion.cmake
        DESTINATION ${config_dir})
# Relative to the .pc file's own place, so an unpacked package works wherever it lies.
file(RELATIVE_PATH QUIVER_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" QUIVER_PC_TO_PREFIX "${QUIVER_PC_TO_PREFIX}")
configure_file(cmake/quiver.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quiver.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quiver.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quiver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "asset packer and extractor for .qvr archives")
set(CPACK_PACKAGE_DESCRIPTION
    "quiver packs the files listed in a response file into one .qvr archive, stored raw or LZSS compressed; quiverx lists, explodes or extracts it. Includes a static library for reading members straight from an archive.")
set(CPACK_PACKAGE_CONTACT "Quiver maintainers <maintainers@quiver.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quiver maintainers <maintainers@quiver.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
