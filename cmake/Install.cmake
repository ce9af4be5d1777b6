# cmake --install: the module with its host libraries and Resource/GDAL_DATA in
# one private folder (the module finds GDAL's data beside the Common library),
# gora, the public headers, and a CMake package with imported targets:
#   GORasterAccessorPlugin::Common, ::RasterDataAccessor (what a host links)
#   GORasterAccessorPlugin::GORasterAccessorPlugin (the module, loaded with dlopen)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KR_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/GORasterAccessorPlugin)
set(KR_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/GORasterAccessorPlugin)
set(KR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/GORasterAccessorPlugin)

set_target_properties(Common RasterDataAccessor GORasterAccessorPlugin PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(gora PROPERTIES INSTALL_RPATH "$ORIGIN/../${KR_INSTALL_MODULEDIR}")

install(TARGETS Common RasterDataAccessor GORasterAccessorPlugin
        EXPORT GORasterAccessorPluginTargets
        LIBRARY DESTINATION ${KR_INSTALL_MODULEDIR}
        INCLUDES DESTINATION ${KR_INSTALL_INCLUDEDIR})
install(TARGETS gora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(GLOB KR_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/host/*.h ${PROJECT_SOURCE_DIR}/containers/*.h)
install(FILES ${KR_PUBLIC_HEADERS} ${PROJECT_SOURCE_DIR}/plugin/KRGORasterAccessorPlugin.h
        DESTINATION ${KR_INSTALL_INCLUDEDIR})

# GDAL's data stays where the system's GDAL keeps it.
install(CODE "
  set(kr_resource \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KR_INSTALL_MODULEDIR}/Resource\")
  file(MAKE_DIRECTORY \"\${kr_resource}\")
  file(REMOVE \"\${kr_resource}/GDAL_DATA\")
  file(CREATE_LINK \"${KR_GDAL_DATADIR}\" \"\${kr_resource}/GDAL_DATA\" SYMBOLIC)
  message(STATUS \"Installing: \${kr_resource}/GDAL_DATA -> ${KR_GDAL_DATADIR}\")")

install(EXPORT GORasterAccessorPluginTargets
        NAMESPACE GORasterAccessorPlugin::
        DESTINATION ${KR_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/GORasterAccessorPluginConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/GORasterAccessorPluginConfig.cmake
                              INSTALL_DESTINATION ${KR_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/GORasterAccessorPluginConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/GORasterAccessorPluginConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/GORasterAccessorPluginConfigVersion.cmake
        DESTINATION ${KR_INSTALL_CMAKEDIR})

# The globe page of gora serve, when the build made it (npm present).
install(DIRECTORY ${KR_OUTPUT_DIR}/gora-web/ DESTINATION ${CMAKE_INSTALL_DATADIR}/GORasterAccessorPlugin/gora-web
        OPTIONAL)
