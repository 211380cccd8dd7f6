# Cross-compiles orkv14.dll for 32-bit Windows with mingw-w64.
set(KV_MINGW_TRIPLE i686-w64-mingw32)
set(KV_MINGW_PROCESSOR X86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
