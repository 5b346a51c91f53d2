# Cross-builds the 32-bit Windows console program with MinGW-w64:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The -posix compilers are named outright: the plain names may point at the
# win32 thread model, with which std::thread does not compile.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TREVANQUILL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TREVANQUILL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TREVANQUILL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TREVANQUILL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TREVANQUILL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program, the tests included, carries its runtime inside, so it runs
# on a bare Windows machine (and under Wine) without extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(TREVANQUILL_WINE wine)
if(TREVANQUILL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREVANQUILL_WINE})
endif()
