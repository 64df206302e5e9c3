# rm_add_plugin(<name> SOURCES ...): a module library for the host interface.
# The library exports exactly getModuleProperties and makeModule: everything is built with hidden
# visibility and, for ELF, a version script makes every other symbol local; a Windows DLL exports
# only what is marked dllexport (rackmill/export.h) and carries its Windows name, without "lib".
set(RM_PLUGIN_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/plugin_exports.map)

function(rm_add_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE rackmill_exports rackmill_framework rm_warnings rm_exact_float)
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
                                           LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    set_target_properties(${name} PROPERTIES PREFIX "lib")
    target_link_options(${name} PRIVATE -Wl,--version-script=${RM_PLUGIN_EXPORTS_MAP})
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${RM_PLUGIN_EXPORTS_MAP})
  endif()
endfunction()
