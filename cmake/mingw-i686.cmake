# Cross-builds the 32-bit Windows console program with MinGW-w64:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TREVANQUILL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under Wine on the build machine. Debian's 64-bit Wine runs
# them in its WoW64 mode once WINEDLLPATH points at its 32-bit Windows DLLs
# (scripts/wine32-dlls.sh fetches them).
find_program(TREVANQUILL_WINE wine)
if(TREVANQUILL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREVANQUILL_WINE})
endif()
