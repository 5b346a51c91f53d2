# Shared part of the MinGW-w64 toolchain files; TREVANQUILL_MINGW_PREFIX names
# the target (i686-w64-mingw32 or x86_64-w64-mingw32).
# The -posix compilers are named outright: the plain names may point at the
# win32 thread model, with which std::thread does not compile.
set(CMAKE_SYSTEM_NAME Windows)
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
