include(CMakePackageConfigHelpers)

install(TARGETS OrvDataProxyImplTzk OrvDataProxyLas OrvBase OrvCore OrvGeometry
    EXPORT OrvDataProxyImplTzkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    # Each library's public headers (its HEADERS file set), at their repository paths.
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/OrvDataProxyImplTzk)

install(EXPORT OrvDataProxyImplTzkTargets
    NAMESPACE Orv::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OrvDataProxyImplTzk)
configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/OrvDataProxyImplTzkConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OrvDataProxyImplTzkConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OrvDataProxyImplTzk)
write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/OrvDataProxyImplTzkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/OrvDataProxyImplTzkConfig.cmake
    ${PROJECT_BINARY_DIR}/OrvDataProxyImplTzkConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OrvDataProxyImplTzk)
