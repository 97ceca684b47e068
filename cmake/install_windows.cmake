# Installed on Windows as one ZIP archive, quiver-<version>-win64.zip: the
# programs and the DLL in bin, its import library and the static libraries
# in lib, the headers, the README, and the example with its batch-file demo.
install(TARGETS quiver quiverx RUNTIME DESTINATION bin)
install(TARGETS quiver_shared RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(TARGETS quiver_reader quiver_common ARCHIVE DESTINATION lib)
install(FILES extractor/reader/include/quiver/reader.h extractor/reader/include/quiver/quiver.h
        DESTINATION include/quiver)
install(FILES README.md DESTINATION .)
install(DIRECTORY examples/assets DESTINATION examples)
install(FILES examples/assets.rsp examples/demo.bat examples/read_member.cpp
        DESTINATION examples)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quiver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quiver-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
