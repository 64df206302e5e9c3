# 32-bit Windows (i686) cross build with MinGW-w64 GCC. SSE2 arithmetic as in the m32 Linux build,
# so that both 32-bit builds compute the same way.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RM_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
