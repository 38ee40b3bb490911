# What `cmake --install` puts where (GNUInstallDirs), the CMake package and the
# pkg-config file that hosts and calibration-library writers build against,
# and the packages that CPack makes of it. Included at the end of the top
# CMakeLists.txt, once every target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# A Windows DLL goes next to the programs, a Linux shared library into lib/.
if(WIN32)
    set(VANTREL_MODULE_DIR ${CMAKE_INSTALL_BINDIR})
    set(vantrel_library_prefix "")
else()
    set(VANTREL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR})
    set(vantrel_library_prefix ${CMAKE_SHARED_LIBRARY_PREFIX})
endif()
set(VANTREL_MODULE_FILE ${vantrel_library_prefix}vantrel${CMAKE_SHARED_LIBRARY_SUFFIX})
set(VANTREL_CALIB_GRID_FILE ${vantrel_library_prefix}vantrel_calib_grid${CMAKE_SHARED_LIBRARY_SUFFIX})
set(vantrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vantrel)

# The public headers, for hosts (vantrel::headers) and for writers of
# calibration libraries (vantrel::calib: CalibLibrary.h and what it includes).
add_library(vantrel_headers INTERFACE)
target_include_directories(vantrel_headers INTERFACE
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(vantrel_headers INTERFACE cxx_std_11)
set_target_properties(vantrel_headers PROPERTIES EXPORT_NAME headers)
add_library(vantrel_calib INTERFACE)
target_link_libraries(vantrel_calib INTERFACE vantrel_headers)
set_target_properties(vantrel_calib PROPERTIES EXPORT_NAME calib)
add_library(vantrel::headers ALIAS vantrel_headers)
add_library(vantrel::calib ALIAS vantrel_calib)
install(TARGETS vantrel_headers vantrel_calib EXPORT vantrelTargets)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/vantrel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The module and the grid calibration library are loaded at run time, never
# linked: the import libraries that MinGW makes of them stay out.
install(TARGETS vantrel vantrel_calib_grid
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
if(TARGET flocksim)
    install(TARGETS flocksim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET vantrel-host AND NOT VANTREL_FUZZ)
    install(TARGETS vantrel-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The plot script goes beside the program, where it looks for it; the
    # demo finds the module in the libraries' folder of an installed tree.
    install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/plot.py DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The view's page and three.js (--http), where the program looks for
    # them, and three.js's licence.
    install(FILES ${VANTREL_VIEW_FILES} DESTINATION ${VANTREL_VIEW_DIR})
    install(FILES /usr/share/doc/libjs-three/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME three.js-copyright)
    file(RELATIVE_PATH vantrel_module_from_program /root/${CMAKE_INSTALL_BINDIR} /root/${VANTREL_MODULE_DIR})
    if(NOT vantrel_module_from_program STREQUAL "")
        target_compile_definitions(vantrel-host PRIVATE VANTREL_MODULE_FROM_PROGRAM="${vantrel_module_from_program}")
    endif()
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/calib/grid/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
    RENAME calib-grid.md)

# The CMake package: find_package(vantrel CONFIG) gives the two targets and
# the paths of the module and the grid library.
install(EXPORT vantrelTargets NAMESPACE vantrel:: DESTINATION ${vantrel_cmake_dir})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vantrelConfig.cmake.in
    ${CMAKE_BINARY_DIR}/package/vantrelConfig.cmake
    INSTALL_DESTINATION ${vantrel_cmake_dir}
    PATH_VARS VANTREL_MODULE_DIR)
# The records' layouts depend on the pointer size, so a package fits only
# programs of its own word size (the check compares them).
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/vantrelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/vantrelConfig.cmake ${CMAKE_BINARY_DIR}/package/vantrelConfigVersion.cmake
    DESTINATION ${vantrel_cmake_dir})

# The pkg-config file, placed relative to its own folder so that the
# installed tree can move.
file(RELATIVE_PATH VANTREL_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" VANTREL_PC_PREFIX "${VANTREL_PC_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/vantrel.pc.in ${CMAKE_BINARY_DIR}/package/vantrel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/vantrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Packages: a .tar.gz of the Linux build, a .zip of the Windows build, each
# with one top folder named like the file.
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win32)
else()
    set(CPACK_GENERATOR TGZ)
    set(CPACK_SYSTEM_NAME Linux)
endif()
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "the vantrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver module for a flock of magnetic six-degree-of-freedom trackers")
set(CPACK_PACKAGE_FILE_NAME vantrel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
