# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, for std::thread
# and std::mutex). Programs link statically, so they need no DLL beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TESSERA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSERA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSERA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSERA_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TESSERA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test programs run under Wine on the build machine.
find_program(TESSERA_WINE wine)
if(TESSERA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSERA_WINE})
endif()
