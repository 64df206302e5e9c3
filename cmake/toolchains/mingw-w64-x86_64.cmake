# 64-bit Windows (x86-64) cross build with MinGW-w64 GCC.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RM_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
