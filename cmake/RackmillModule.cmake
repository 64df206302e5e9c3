# rackmill_add_module(<name> SOURCES <source>... [OUTPUT_DIRECTORY <dir>])
#
# A module library for the Rackmill host interface, from sources that define rm::pluginIdentity
# and rm::createPluginModule (rackmill/plugin.h). The library:
# - links the framework (Rackmill::framework) and compiles in the two exports (Rackmill::exports);
# - exports exactly getModuleProperties and makeModule: everything is built with hidden
#   visibility and, for ELF, a version script makes every other symbol local; a Windows DLL
#   exports only what is marked dllexport (rackmill/export.h);
# - is named as the host looks for it: lib<name>.so on Linux, <name>.dll on Windows;
# - computes as written: no fused multiply-adds, no fast-math, so that its output is the same
#   on every build and platform (the validator runs each session twice and compares);
# - on Windows links the C++ and GCC runtimes in, so that the DLL needs no runtime DLL beside
#   it in the host's module folder.
#
# The same file serves the project's own build and the installed package (find_package(Rackmill)).
set(RACKMILL_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/plugin_exports.map)

function(rackmill_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_DIRECTORY" "SOURCES")
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "rackmill_add_module(${name}): no SOURCES given")
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "rackmill_add_module(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Rackmill::exports Rackmill::framework)
  target_compile_options(${name} PRIVATE -ffp-contract=off -fno-fast-math -fno-math-errno)
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  endif()
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
    if(MINGW)
      target_link_options(${name} PRIVATE -static)
    endif()
  else()
    set_target_properties(${name} PROPERTIES PREFIX "lib")
    target_link_options(${name} PRIVATE -Wl,--version-script=${RACKMILL_EXPORTS_MAP})
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${RACKMILL_EXPORTS_MAP})
  endif()
endfunction()
