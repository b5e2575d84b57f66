# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KVA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVA_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KVA_MINGW_PREFIX})
# Programs come from the build machine; headers and libraries only from the mingw root, so
# /usr/include never leaks into the Windows build.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run under Wine.
find_program(KVA_WINE NAMES wine wine64)
if(KVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KVA_WINE})
endif()
