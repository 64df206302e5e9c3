# Shared part of the Windows cross toolchains (Debian's MinGW-w64 GCC with POSIX threads).
# RM_MINGW_TRIPLE is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${RM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RM_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${RM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A module library is loaded from the host's module folder, where no GCC runtime DLL lies next to
# it: the C++ and GCC runtimes and winpthread are linked in, leaving imports of system DLLs only.
# Programs (tests, validator) are linked the same way so that they run without a runtime path.
# No link time in the PE header: the same tree gives the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Installed with the Rackmill kit (<prefix>/lib/cmake/Rackmill/toolchains), the toolchain also
# finds the Windows kit it came with: find_package(Rackmill) then needs no further path.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../RackmillConfig.cmake)
  get_filename_component(RM_KIT_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../../../.. ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${RM_KIT_PREFIX})
endif()
