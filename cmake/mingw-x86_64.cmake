# The same sources for 64-bit Windows. CI runs its test suites under Wine
# beside those of the 32-bit build, to keep the code right for 64-bit Windows:
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TREVANQUILL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(TREVANQUILL_WINE NAMES wine64 wine)
if(TREVANQUILL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREVANQUILL_WINE})
endif()
