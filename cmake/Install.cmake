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
