# Installed, in five Debian packages as Debian splits a library:
#   quiver          the two programs and their manual pages
#   quiverfs        the program that mounts archives, with its manual page
#   libquiver1      the shared reader library, libquiver.so.1
#   libquiver-dev   headers, static libraries, CMake package, pkg-config files
#   python3-quiver  the Python module over the shared library
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(quiver_reader PROPERTIES EXPORT_NAME reader)
set_target_properties(quiver_common PROPERTIES EXPORT_NAME common)
set_target_properties(quiver_shared PROPERTIES EXPORT_NAME quiver)

# Manual pages and the changelog go in compressed, as Debian has them, and
# without a time stamp, so the same sources make the same packages.
set(compressed_files)
foreach(source man/quiver.1 man/quiverx.1 man/quiverfs.1 cmake/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/compressed
    COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed_files ${output})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed_files})

install(TARGETS quiver quiverx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/quiver.1.gz
              ${CMAKE_CURRENT_BINARY_DIR}/compressed/quiverx.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES cmake/bash-completion/quiver cmake/bash-completion/quiverx
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
install(TARGETS quiverfs RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT fs)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compressed/quiverfs.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT fs)
install(FILES cmake/bash-completion/quiverfs
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT fs)
install(FILES cmake/debian/libquiver1.lintian-overrides RENAME libquiver1
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT libs)
# Every package carries its copyright file and changelog.
foreach(pair tools:quiver fs:quiverfs libs:libquiver1 dev:libquiver-dev python:python3-quiver)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES cmake/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/compressed/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

install(TARGETS quiver_shared EXPORT quiverTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev)
install(TARGETS quiver_reader quiver_common EXPORT quiverTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES extractor/reader/include/quiver/reader.h extractor/reader/include/quiver/quiver.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quiver COMPONENT dev)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quiver)
install(EXPORT quiverTargets NAMESPACE quiver:: DESTINATION ${config_dir} COMPONENT dev)
configure_package_config_file(cmake/quiverConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quiverConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quiverConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quiverConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/quiverConfigVersion.cmake
        DESTINATION ${config_dir} COMPONENT dev)
# Relative to the .pc file's own place, so an unpacked package works wherever it lies.
file(RELATIVE_PATH QUIVER_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" QUIVER_PC_TO_PREFIX "${QUIVER_PC_TO_PREFIX}")
foreach(pc quiver quiver-static)
  configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT dev)
endforeach()

install(FILES extractor/reader/python/quiver.py DESTINATION lib/python3/dist-packages COMPONENT python)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools fs libs dev python)
set(CPACK_PACKAGE_NAME quiver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quiver maintainers <maintainers@quiver.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quiver maintainers <maintainers@quiver.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quiver)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "asset packer and extractor for .qvr archives\nquiver packs the files listed in a response file into one .qvr archive,\nstored raw or LZSS compressed; quiverx lists, explodes or extracts it.")
set(CPACK_DEBIAN_FS_PACKAGE_NAME quiverfs)
set(CPACK_DEBIAN_FS_PACKAGE_SECTION utils)
# fusermount3, which mounts and unmounts for users other than root.
set(CPACK_DEBIAN_FS_PACKAGE_DEPENDS "fuse3")
set(CPACK_COMPONENT_FS_DESCRIPTION
    "mount .qvr archives as a read-only directory\nquiverfs shows .qvr archives, layered with directories as a game's search\npath, as one read-only tree of files through FUSE, without extracting them.")
set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libquiver1)
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_LIBS_DESCRIPTION
    "library for reading .qvr archives\nReads members straight from .qvr archives, layered as a search path of\narchives and directories, from C, C++ and other languages.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquiver-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libquiver1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "library for reading .qvr archives - development files\nHeaders for C and C++17, static libraries, a CMake package and pkg-config\nfiles for the quiver reader library.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quiver)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libquiver1 (= ${PROJECT_VERSION}), python3")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "library for reading .qvr archives - Python module\nThe quiver module reads .qvr archives and mounts through libquiver1.")
include(CPack)
