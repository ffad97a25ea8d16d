# Installation: the library (versioned, with soname), the header, the tool, a CMake package
# configuration (find_package(ZAVImage) gives ZAVImage::zavimage) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)


install(TARGETS zavimage EXPORT ZAVImageTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zavimage DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET zavimage_cli)
    set_target_properties(zavimage_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS zavimage_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(ZAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZAVImage)
install(EXPORT ZAVImageTargets NAMESPACE ZAVImage:: DESTINATION ${ZAV_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZAVImageConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ZAVImageConfig.cmake INSTALL_DESTINATION ${ZAV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZAVImageConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZAVImageConfig.cmake
              ${PROJECT_BINARY_DIR}/ZAVImageConfigVersion.cmake
        DESTINATION ${ZAV_CMAKE_DIR})

# The pkg-config file finds its prefix from where it lies, so the installed tree can move.
file(RELATIVE_PATH ZAV_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zavimage.pc.in ${PROJECT_BINARY_DIR}/zavimage.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zavimage.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Python package's metadata beside it (python/CMakeLists.txt installs the package), so that
# importlib.metadata and pip know zavimage and its version: METADATA from the project's version and
# pyproject.toml's fields, INSTALLER naming cmake (pip then leaves the package to it). A
# zavimage-*.dist-info of another version left by an earlier install is removed first.
if(ZAV_INSTALL_PYTHON)
    file(READ ${PROJECT_SOURCE_DIR}/python/pyproject.toml zav_pyproject)
    set(zav_metadata "Metadata-Version: 2.1\nName: zavimage\nVersion: ${PROJECT_VERSION}\n")
    if(zav_pyproject MATCHES "\ndescription = \"([^\"\n]*)\"")
        string(APPEND zav_metadata "Summary: ${CMAKE_MATCH_1}\n")
    endif()
    if(zav_pyproject MATCHES "\nrequires-python = \"([^\"\n]*)\"")
        string(APPEND zav_metadata "Requires-Python: ${CMAKE_MATCH_1}\n")
    endif()
    if(zav_pyproject MATCHES "\ndependencies = \\[([^]\n]*)\\]")
        string(REGEX MATCHALL "\"[^\"]+\"" zav_dependencies "${CMAKE_MATCH_1}")
        foreach(dependency IN LISTS zav_dependencies)
            string(REPLACE "\"" "" dependency "${dependency}")
            string(APPEND zav_metadata "Requires-Dist: ${dependency}\n")
        endforeach()
    endif()
    set(zav_dist_info zavimage-${PROJECT_VERSION}.dist-info)
    set(zav_dist_info_build ${PROJECT_BINARY_DIR}/python/${zav_dist_info})
    file(CONFIGURE OUTPUT ${zav_dist_info_build}/METADATA CONTENT "${zav_metadata}")
    file(CONFIGURE OUTPUT ${zav_dist_info_build}/INSTALLER CONTENT "cmake\n")
    file(CONFIGURE OUTPUT ${zav_dist_info_build}/top_level.txt CONTENT "zavimage\n")
    install(CODE "set(zav_python_dir \"${ZAV_PYTHON_DIR}\")
set(zav_dist_info \"${zav_dist_info}\")")
    install(CODE [[
if(NOT IS_ABSOLUTE "${zav_python_dir}")
    set(zav_python_dir "${CMAKE_INSTALL_PREFIX}/${zav_python_dir}")
endif()
file(GLOB zav_old_dist_info LIST_DIRECTORIES true "$ENV{DESTDIR}${zav_python_dir}/zavimage-*.dist-info")
list(REMOVE_ITEM zav_old_dist_info "$ENV{DESTDIR}${zav_python_dir}/${zav_dist_info}")
foreach(old IN LISTS zav_old_dist_info)
    message(STATUS "Removing: ${old}")
    file(REMOVE_RECURSE "${old}")
endforeach()
]])
    install(DIRECTORY ${zav_dist_info_build} DESTINATION ${ZAV_PYTHON_DIR})
endif()

# The dynamic linker's cache, refreshed after an install as root into one of its folders
# (cmake/RunLdconfig.cmake); not for an install staged under DESTDIR.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    install(CODE "set(zav_installed_libdir \"${CMAKE_INSTALL_LIBDIR}\")")
else()
    install(CODE "set(zav_installed_libdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")")
endif()
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/RunLdconfig.cmake)
