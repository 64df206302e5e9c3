# What `cmake --install` puts under the prefix: the module kit for developers of module libraries.
#   include/rackmill/, include/rmhost/     framework and host library headers
#   lib/librackmill_framework.a, lib/librackmill_host.a, lib/rackmill/rackmill_exports.o
#   lib/cmake/Rackmill/                    the CMake package (config, version, targets,
#                                          RackmillModule.cmake, the MinGW toolchains)
#   lib/pkgconfig/rackmill-{framework,host}.pc
#   bin/rmhost, lib/rackmill/              the tool, our two module libraries and the LV2 bridge
#                                          that `rmhost lv2-bundle` copies into bundles
# The LV2 bundle itself goes to RM_LV2_INSTALL_DIR (component lv2, lv2/CMakeLists.txt).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RACKMILL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Rackmill)
set(RACKMILL_EXPORTS_OBJECT ${CMAKE_INSTALL_LIBDIR}/rackmill/rackmill_exports.o)

install(TARGETS rackmill_framework rackmill_framework_headers rackmill_host
                rackmill_allocation_counter
        EXPORT RackmillTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT kit
        OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/rackmill/objects COMPONENT kit)
install(FILES $<TARGET_OBJECTS:rackmill_exports> DESTINATION ${CMAKE_INSTALL_LIBDIR}/rackmill
        RENAME rackmill_exports.o COMPONENT kit)
install(DIRECTORY framework/include/ host/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT kit)
install(EXPORT RackmillTargets NAMESPACE Rackmill:: DESTINATION ${RACKMILL_CMAKE_DIR}
        COMPONENT kit)

configure_package_config_file(cmake/RackmillConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/RackmillConfig.cmake
                              INSTALL_DESTINATION ${RACKMILL_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_BINDIR RACKMILL_EXPORTS_OBJECT)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/RackmillConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/RackmillConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/RackmillConfigVersion.cmake cmake/RackmillModule.cmake
              cmake/plugin_exports.map
        DESTINATION ${RACKMILL_CMAKE_DIR} COMPONENT kit)
install(DIRECTORY cmake/toolchains DESTINATION ${RACKMILL_CMAKE_DIR} COMPONENT kit)

# The prefix as seen from the .pc file, so that the kit works wherever it is installed or moved.
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
set(RACKMILL_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
set(RACKMILL_HOST_PC_LIBS "")
if(CMAKE_DL_LIBS)
  set(RACKMILL_HOST_PC_LIBS "-l${CMAKE_DL_LIBS}")
endif()
foreach(pc rackmill-framework rackmill-host)
  configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT kit)
endforeach()

# The tool and what it loads beside itself (rmcli::PluginFinder: <prefix>/lib/rackmill).
if(TARGET rmhost)
  install(TARGETS rmhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kit)
endif()
install(TARGETS swarm vellum LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/rackmill COMPONENT kit)
if(TARGET rackmill_lv2)
  install(TARGETS rackmill_lv2 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/rackmill COMPONENT kit)
endif()
