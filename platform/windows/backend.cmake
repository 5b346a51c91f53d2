# The Windows backend, included by the top CMakeLists.txt when building for
# Windows (see cmake/mingw-i686.cmake for the cross build).
add_library(trevanquill_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/hid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer.cpp)
target_include_directories(trevanquill_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# Windows 7 and later.
target_compile_definitions(trevanquill_platform PRIVATE WIN32_LEAN_AND_MEAN
  _WIN32_WINNT=0x0601)
target_link_libraries(trevanquill_platform PUBLIC setupapi hid user32)
if(MINGW)
  # The runtime goes inside the program: no MinGW DLLs beside it.
  target_link_options(trevanquill_platform INTERFACE -static -static-libgcc -static-libstdc++)
endif()
