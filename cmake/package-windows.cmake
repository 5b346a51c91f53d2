# The Windows release, a .zip built by CPack (scripts/release.sh configures a
# Release build with cmake/mingw-i686.cmake and runs cpack -G ZIP): one folder
# trevanquill-VERSION-win32 with trevanquill.exe, README.txt for Windows users
# and LICENSE.txt, both texts with the CR LF line ends that every Windows
# editor shows.
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.txt
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME trevanquill)
set(CPACK_PACKAGE_VERSION ${TREVANQUILL_VERSION})
set(CPACK_STRIP_FILES ON)
include(CPack)
