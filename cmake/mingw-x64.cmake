# Cross-compiles orkv14.dll for 64-bit Windows with mingw-w64.
set(KV_MINGW_TRIPLE x86_64-w64-mingw32)
set(KV_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
