# The Linux backend: HID through hidapi's hidraw backend (linked dynamically),
# cursor and synthetic mouse input through Xlib and XTest.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIDAPI_HIDRAW REQUIRED IMPORTED_TARGET hidapi-hidraw)
find_package(X11 REQUIRED)
if(NOT X11_Xtst_FOUND)
  message(FATAL_ERROR "the XTest library (libxtst-dev) is missing")
endif()

add_library(trevanquill_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_x11.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system.cpp)
target_include_directories(trevanquill_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(trevanquill_platform PUBLIC
  PkgConfig::HIDAPI_HIDRAW X11::X11 X11::Xtst Threads::Threads)

# Lets the user logged in at the seat open the remote's hidraw node, so that
# the tool runs without root. udev reads rules from /etc/udev/rules.d.
set(TREVANQUILL_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH
  "Where cmake --install puts the udev rule for the remote")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-trevanquill.rules
  DESTINATION ${TREVANQUILL_UDEV_RULES_DIR})
