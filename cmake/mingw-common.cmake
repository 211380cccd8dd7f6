# Shared part of the mingw-w64 toolchain files; KV_MINGW_TRIPLE is set by the caller.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KV_MINGW_PROCESSOR})

# The posix thread model: the code uses std::mutex, which gcc 12's win32 model lacks.
set(CMAKE_C_COMPILER ${KV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_TRIPLE}-windres)

# The dependencies built by scripts/mingw-deps.sh live beside the build trees.
get_filename_component(_kv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(KV_MINGW_DEPS "${_kv_root}/build/mingw-deps/${KV_MINGW_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLE} ${KV_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine.
find_program(KV_WINE wine)
if(KV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE})
endif()
