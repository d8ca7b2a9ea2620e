include(CMakePackageConfigHelpers)

install(TARGETS OrvDataProxyImplTzk OrvDataProxyLas OrvBase OrvCore OrvGeometry
    EXPORT OrvDataProxyImplTzkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/OrvDataProxyImplTzk.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/OrvDataProxyImplTzk)
foreach(folder contract extradata provider builder las host/base host/eastl host/core host/geometry)
    orv_install_headers(${folder})
endforeach()

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
