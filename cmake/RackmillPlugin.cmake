# The project's own module libraries and test modules: rackmill_add_module (RackmillModule.cmake,
# the function the installed package offers) with the project's warnings, built into
# <build>/plugins where rmhost and the tests find them.
include(${CMAKE_CURRENT_LIST_DIR}/RackmillModule.cmake)

function(rm_add_plugin name)
  rackmill_add_module(${name} ${ARGN} OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)
  target_link_libraries(${name} PRIVATE rm_warnings)
endfunction()
